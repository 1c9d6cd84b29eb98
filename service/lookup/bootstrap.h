#pragma once

#include <coroutine>
#include <mutex>
#include <optional>
#include <vector>

#include <QHash>
#include <QStringList>

#include "service/lookup/runtime.h"
#include "service/lookup/task.h"

// IANA's bootstrap registry for domains (RFC 9224): the RDAP servers of each TLD. Fetched at run
// time and kept on disk, refreshed once it is a day old; until a copy is had, no TLD has RDAP.
class RdapBootstrap
{
public:
    // url empty: never fetched. The kept copy is cacheDir/dns.json. The runtime's clock is a
    // steady one, so that a step of the wall clock neither hastens nor stops a refresh.
    RdapBootstrap(QString url, QString cacheDir, bool allowLoopback, Runtime runtime);
    RdapBootstrap(const RdapBootstrap&) = delete;
    RdapBootstrap& operator=(const RdapBootstrap&) = delete;

    // The base URLs serving tld (https ones first). Starts a refresh when the copy is missing or
    // old; while there is no copy at all, waits for that refresh until waitUntil at most.
    Task<QStringList> serversFor(QString tld, Clock::time_point waitUntil);
    // Ends every wait at once, and every later one; refreshes no more.
    void stop();

private:
    class RefreshEnd;
    struct Waiter
    {
        quint64 id;
        std::coroutine_handle<> handle;
        Timers::Id timer;
    };

    // Fetches, keeps what came, and wakes whoever waits for it.
    Detached refresh();
    bool load(const QByteArray& json);
    void wake(quint64 id);

    const QString m_url;
    const QString m_file;
    const bool m_allowLoopback;
    Runtime m_runtime;
    std::mutex m_mutex;
    QHash<QString, QStringList> m_servers;
    std::optional<Clock::time_point> m_fetched; // of the copy in use
    std::optional<Clock::time_point> m_lastTry;
    bool m_fetching = false;
    bool m_stopping = false;
    std::vector<Waiter> m_waiting;
    quint64 m_nextWaiter = 1;
};
