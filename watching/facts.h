#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Whether a name is held by someone.
enum class Presence { Registered, Free, Reserved };

// What one check learnt about a name: the six facts the window shows, its status codes and where
// the service had them from.
struct WatchFacts
{
    Presence presence = Presence::Registered;
    QString domain; // as the service names it (ldhName)
    QString registrar;
    QString registrarId; // IANA Registrar ID, when given
    QString registrant;
    QString email;
    QDateTime created; // UTC; invalid when not given
    QDateTime expires;
    QStringList status; // RDAP status strings, lower case
    QString source; // where the service read the facts

    bool operator==(const WatchFacts& other) const;
    bool operator!=(const WatchFacts& other) const { return !(*this == other); }
};

// How one check of a name ended.
struct CheckAnswer
{
    enum class Kind {
        Facts, // a domain object: registered or reserved
        Free, // not registered
        NotADomain, // the service will never find this text
        Failed, // try again later
    };
    Kind kind = Kind::Failed;
    WatchFacts facts; // Facts and Free
    QString failure; // Failed and NotADomain: why, for the tooltip
    QDateTime retryAfter; // UTC; invalid when the service did not say
    qint64 maxAgeSeconds = -1; // from Cache-Control; -1 when not given
};

// An RFC 3339 date-time (any offset, 'T' or 't', fractions), or a date alone, in UTC. A time
// without a zone is taken as UTC. Invalid for anything else.
QDateTime readRfc3339(const QString& text);

// The service's answer to GET /rdap/domain/NAME: status 0 means no answer at all. now resolves a
// Retry-After given in seconds.
CheckAnswer readCheckAnswer(int httpStatus, const QByteArray& body, const QByteArray& cacheControl,
    const QByteArray& retryAfter, const QDateTime& now);
