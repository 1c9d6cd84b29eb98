#pragma once

#include <mutex>
#include <optional>
#include <thread>

#include <QHash>
#include <QJsonObject>
#include <QStringList>

#include "service/politeness.h"
#include "service/record.h"
#include "service/upstream.h"

// IANA's bootstrap registry for domains (RFC 9224): the RDAP servers of each TLD. Fetched at run
// time and kept on disk, refreshed once it is a day old; until a copy is had, no TLD has RDAP.
class RdapBootstrap
{
public:
    // url empty: never fetched. The kept copy is cacheDir/dns.json.
    RdapBootstrap(QString url, QString cacheDir, bool allowLoopback,
        std::function<QDateTime()> now = QDateTime::currentDateTimeUtc);
    ~RdapBootstrap();
    RdapBootstrap(const RdapBootstrap&) = delete;
    RdapBootstrap& operator=(const RdapBootstrap&) = delete;

    // The base URLs serving tld (https ones first). Starts a refresh in the background when the
    // copy is missing or old.
    QStringList serversFor(const QString& tld);
    // Fetches now and waits; false when neither fetch nor kept copy gives a registry.
    bool refresh();

private:
    bool load(const QByteArray& json);

    const QString m_url;
    const QString m_file;
    const bool m_allowLoopback;
    const std::function<QDateTime()> m_now;
    std::mutex m_mutex;
    QHash<QString, QStringList> m_servers;
    QDateTime m_fetched; // of the copy in use
    QDateTime m_lastTry;
    std::thread m_refresher;
};

// What an RDAP domain answer (RFC 9083) says, and where the registrar's own answer is.
struct RdapReading
{
    bool valid = false; // a domain object at all
    DomainRecord record;
    bool lacksRegistrant = false; // no registrant entity, as thin registries answer
    QString related; // the registrar's RDAP URL for the domain
};

RdapReading readRdapDomain(const QByteArray& json);

// Looks domains up over RDAP at the servers the bootstrap names.
class RdapClient
{
public:
    RdapClient(RdapBootstrap& bootstrap, bool allowLoopback);

    // None when the bootstrap names no RDAP server for the domain's TLD. Otherwise Registered,
    // NotRegistered or RateLimited when RDAP said so; Unavailable when it failed and port 43
    // should be asked instead.
    std::optional<LookupResult> lookUp(
        const QString& domain, Deadline deadline, Politeness& politeness);

private:
    // Throws Parked when the look-up now waits for the server.
    HttpFetch ask(const QString& url, Upstream kind, Deadline deadline, Politeness& politeness,
        LookupResult& result);

    RdapBootstrap& m_bootstrap;
    const bool m_allowLoopback;
};
