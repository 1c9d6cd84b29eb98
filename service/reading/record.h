#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// How a look-up ended, each a state the user must tell apart in the window.
enum class Outcome { Registered, NotRegistered, Reserved, NotADomain, RateLimited, Unavailable };

// A date as a registry stated it: an instant when its zone is known (stated, or documented for
// that registry), otherwise the wall-clock time as written, which is never converted.
struct RecordDate
{
    QDateTime at; // UTC when zoned; otherwise the written time held as UTC, unconverted
    bool zoned = false;

    bool isValid() const { return at.isValid(); }
};

// What the registries show of a domain. Empty texts and invalid dates: not shown, or not public.
struct DomainRecord
{
    QString registrar;
    QString registrant; // the name, else the organisation
    QString email; // an address only
    RecordDate created;
    RecordDate expires;
    QStringList nameServers;
    RecordDate changed; // last changed
    // As the registry states them: EPP codes over port 43 ("clientHold"), RDAP's values over
    // RDAP ("client hold").
    QStringList status;
    QString registrarId; // the registrar's IANA ID, where stated

    bool registrantPublic() const { return !registrant.isEmpty() || !email.isEmpty(); }
    // Fills what this record lacks from other.
    void fillFrom(const DomainRecord& other);
};

struct LookupResult
{
    Outcome outcome = Outcome::Unavailable;
    DomainRecord record;
    QStringList asked; // the servers asked, in order, for the log and the page
    QString detail; // why a failure failed, for the log
    // Where the record's facts were read: RDAP URLs, or whois servers.
    QStringList from;
    // Registered, but a later hop (the registrar's) failed: the page stays only as long as a
    // failure's would, so the whole record is tried again soon.
    bool incomplete = false;
    // The failure was the service's own doing (its limits, its queues), not the upstream's: the
    // page is not kept.
    bool ownLimit = false;
};

const char* outcomeName(Outcome outcome);
