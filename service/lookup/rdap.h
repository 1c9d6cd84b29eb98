#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <QHash>
#include <QJsonObject>
#include <QStringList>

#include "service/lookup/politeness.h"
#include "service/reading/record.h"
#include "service/net/upstream.h"
#include "service/reading/rdapreading.h"

// IANA's bootstrap registry for domains (RFC 9224): the RDAP servers of each TLD. Fetched at run
// time and kept on disk, refreshed once it is a day old; until a copy is had, no TLD has RDAP.
class RdapBootstrap
{
public:
    // url empty: never fetched. The kept copy is cacheDir/dns.json. now: a steady clock, so that
    // a step of the wall clock neither hastens nor stops a refresh.
    RdapBootstrap(QString url, QString cacheDir, bool allowLoopback,
        std::function<Clock::time_point()> now = Clock::now);
    ~RdapBootstrap();
    RdapBootstrap(const RdapBootstrap&) = delete;
    RdapBootstrap& operator=(const RdapBootstrap&) = delete;

    // The base URLs serving tld (https ones first). Starts a refresh in the background when the
    // copy is missing or old; while there is no copy at all, waits for that fetch until
    // waitUntil at most.
    QStringList serversFor(const QString& tld, Clock::time_point waitUntil);

private:
    // Fetches, and keeps what came; ends the fetch under way.
    void refresh();
    bool load(const QByteArray& json);

    const QString m_url;
    const QString m_file;
    const bool m_allowLoopback;
    const std::function<Clock::time_point()> m_now;
    std::mutex m_mutex;
    std::condition_variable m_fetchEnded;
    QHash<QString, QStringList> m_servers;
    std::optional<Clock::time_point> m_fetched; // of the copy in use
    std::optional<Clock::time_point> m_lastTry;
    bool m_fetching = false;
    // Guards m_refresher alone, and is never taken with m_mutex held: the refresher needs that.
    std::mutex m_refresherMutex;
    std::thread m_refresher;
};

// Looks domains up over RDAP at the servers the bootstrap names.
class RdapClient
{
public:
    RdapClient(RdapBootstrap& bootstrap, bool allowLoopback);

    // None when the bootstrap names no RDAP server for the domain's TLD. Otherwise Registered,
    // NotRegistered or RateLimited when RDAP said so; Unavailable when every server the
    // bootstrap names failed and port 43 should be asked instead.
    std::optional<LookupResult> lookUp(
        const QString& domain, Deadline deadline, Politeness& politeness);

private:
    // Throws Parked when the look-up now waits for the server.
    HttpFetch ask(const QString& url, Upstream kind, Deadline deadline, Politeness& politeness,
        LookupResult& result);
    void followRelated(const RdapReading& registry, Deadline deadline, Politeness& politeness,
        LookupResult& result);

    RdapBootstrap& m_bootstrap;
    const bool m_allowLoopback;
};
