#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// How a look-up ended, each a state the user must tell apart in the window.
enum class Outcome { Registered, NotRegistered, NotADomain, RateLimited, Unavailable };

// What the registries show of a domain. Empty texts and invalid dates: not shown, or not public.
struct DomainRecord
{
    QString registrar;
    QString registrant; // the name, else the organisation
    QString email; // an address only
    QDateTime created; // UTC
    QDateTime expires; // UTC
    QStringList nameServers;

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
    // Registered, but a later hop (the registrar's) failed: the page stays only as long as a
    // failure's would, so the whole record is tried again soon.
    bool incomplete = false;
    // The failure was the service's own doing (its limits, its queues), not the upstream's: the
    // page is not kept.
    bool ownLimit = false;
};

const char* outcomeName(Outcome outcome);
