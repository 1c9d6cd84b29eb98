#include "bootstrap.h"

#include <cstdio>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "service/limits.h"

using namespace std::chrono;

// Waits for the refresh under way while there is no copy yet, until a given time at most.
class RdapBootstrap::RefreshEnd
{
public:
    RefreshEnd(RdapBootstrap& bootstrap, Clock::time_point until)
        : m_bootstrap(bootstrap), m_until(until)
    { }
    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> handle)
    {
        RdapBootstrap& b = m_bootstrap;
        const std::lock_guard lock(b.m_mutex);
        if (!b.m_fetching || !b.m_servers.isEmpty() || b.m_stopping || m_until <= b.m_runtime.now())
            return false;
        const quint64 id = b.m_nextWaiter++;
        const Timers::Id timer = b.m_runtime.timers.at(m_until, [&b, id] { b.wake(id); });
        b.m_waiting.push_back({id, handle, timer});
        return true;
    }
    void await_resume() const noexcept { }

private:
    RdapBootstrap& m_bootstrap;
    Clock::time_point m_until;
};

RdapBootstrap::RdapBootstrap(QString url, QString cacheDir, bool allowLoopback, Runtime runtime)
    : m_url(std::move(url))
    , m_file(cacheDir.isEmpty() ? QString() : QDir(cacheDir).filePath(QStringLiteral("dns.json")))
    , m_allowLoopback(allowLoopback)
    , m_runtime(std::move(runtime))
{
    QFile kept(m_file);
    if (!m_file.isEmpty() && kept.open(QIODevice::ReadOnly) && load(kept.readAll())) {
        // The file's age is the one thing read off the wall clock, once.
        const qint64 age = QFileInfo(kept).lastModified().msecsTo(QDateTime::currentDateTimeUtc());
        m_fetched = m_runtime.now() - milliseconds(std::max<qint64>(age, 0));
    }
}

bool RdapBootstrap::load(const QByteArray& json)
{
    QHash<QString, QStringList> servers;
    const QJsonArray services
        = QJsonDocument::fromJson(json).object().value(QLatin1String("services")).toArray();
    for (const QJsonValue& service : services) {
        QStringList urls;
        for (const QJsonValue& url : service.toArray().at(1).toArray()) {
            const QString address = url.toString();
            if (address.startsWith(QLatin1String("https://")))
                urls.prepend(address);
            else if (address.startsWith(QLatin1String("http://")))
                urls.append(address);
        }
        for (const QJsonValue& tld : service.toArray().at(0).toArray())
            if (!urls.isEmpty())
                servers.insert(tld.toString().toLower(), urls);
    }
    if (servers.isEmpty())
        return false;
    const std::lock_guard lock(m_mutex);
    m_servers = std::move(servers);
    return true;
}

Task<QStringList> RdapBootstrap::serversFor(QString tld, Clock::time_point waitUntil)
{
    bool start = false;
    {
        const std::lock_guard lock(m_mutex);
        const Clock::time_point now = m_runtime.now();
        const bool old = !m_fetched || now - *m_fetched >= limits::kBootstrapLife;
        const bool tried = m_lastTry && now - *m_lastTry < limits::kBootstrapRetry;
        if (!m_url.isEmpty() && old && !tried && !m_fetching && !m_stopping) {
            m_lastTry = now;
            m_fetching = true;
            start = true;
        }
    }
    if (start)
        refresh();
    // No copy yet: the refresh under way is worth part of the look-up's time.
    co_await RefreshEnd(*this, waitUntil);
    const std::lock_guard lock(m_mutex);
    co_return m_servers.value(tld.toLower());
}

Detached RdapBootstrap::refresh()
{
    const TaskCounter::Guard running(m_runtime.tasks);
    // The operator's address: always reached, over http too when it says so; where it redirects
    // is the web's choice, so https alone.
    FetchRequest request {m_url,
        {m_allowLoopback, m_url.startsWith(QLatin1String("http://")), true, true},
        "application/json", limits::kBootstrapFetchTime, {}};
    const HttpFetch fetch
        = co_await m_runtime.await<HttpFetch>([&](std::function<void(HttpFetch)> done) {
              m_runtime.network.fetch(std::move(request), std::move(done));
          });
    const bool had = fetch.status == 200 && load(fetch.body);
    if (had && !m_file.isEmpty() && QDir().mkpath(QFileInfo(m_file).absolutePath())) {
        QSaveFile kept(m_file);
        if (kept.open(QIODevice::WriteOnly) && kept.write(fetch.body) == fetch.body.size())
            kept.commit();
    }
    const std::lock_guard lock(m_mutex);
    if (had)
        m_fetched = m_runtime.now();
    else if (fetch.failure != Failure::Stopping)
        std::fprintf(stderr, "domain-whois-service: RDAP bootstrap %s not had (%s); %s\n",
            qPrintable(m_url),
            qPrintable(fetch.failure != Failure::None
                    ? describeFailure(fetch.failure, {}, fetch.detail)
                    : QStringLiteral("HTTP %1").arg(fetch.status)),
            m_fetched ? "the kept copy serves" : "port 43 serves alone");
    m_fetching = false;
    for (const Waiter& waiter : m_waiting) {
        m_runtime.timers.cancel(waiter.timer);
        m_runtime.executor.resume(waiter.handle);
    }
    m_waiting.clear();
}

void RdapBootstrap::wake(quint64 id)
{
    const std::lock_guard lock(m_mutex);
    const auto found = std::find_if(
        m_waiting.begin(), m_waiting.end(), [id](const Waiter& waiter) { return waiter.id == id; });
    if (found == m_waiting.end())
        return;
    m_runtime.executor.resume(found->handle);
    m_waiting.erase(found);
}

void RdapBootstrap::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
    for (const Waiter& waiter : m_waiting) {
        m_runtime.timers.cancel(waiter.timer);
        m_runtime.executor.resume(waiter.handle);
    }
    m_waiting.clear();
}
