#include "rdap.h"

#include <cstdio>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QUrl>

#include "service/names/domainname.h"
#include "service/reading/whoistext.h"

using namespace std::chrono;

namespace {

constexpr auto kBootstrapLife = hours(24);
constexpr auto kRetryAfterFailure = minutes(10);
constexpr auto kBootstrapFetchTime = seconds(20);
constexpr seconds kHoldOffWithoutRetryAfter {60};
// A registrar link longer than this is no link a registry means.
constexpr qsizetype kLongestLink = 2048;
const char* const kRdapJson = "application/rdap+json, application/json;q=0.9";

} // namespace

RdapBootstrap::RdapBootstrap(
    QString url, QString cacheDir, bool allowLoopback, std::function<Clock::time_point()> now)
    : m_url(std::move(url))
    , m_file(cacheDir.isEmpty() ? QString() : QDir(cacheDir).filePath(QStringLiteral("dns.json")))
    , m_allowLoopback(allowLoopback)
    , m_now(std::move(now))
{
    QFile kept(m_file);
    if (!m_file.isEmpty() && kept.open(QIODevice::ReadOnly) && load(kept.readAll())) {
        // The file's age is the one thing read off the wall clock, once.
        const qint64 age = QFileInfo(kept).lastModified().msecsTo(QDateTime::currentDateTimeUtc());
        m_fetched = m_now() - milliseconds(std::max<qint64>(age, 0));
    }
}

RdapBootstrap::~RdapBootstrap()
{
    const std::lock_guard lock(m_refresherMutex);
    if (m_refresher.joinable())
        m_refresher.join();
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

void RdapBootstrap::refresh()
{
    // The operator's address: always reached, over http too when it says so; where it redirects
    // is the web's choice, so https alone.
    const HttpFetch fetch = httpGet(m_url, Deadline::in(kBootstrapFetchTime),
        {m_allowLoopback, m_url.startsWith(QLatin1String("http://")), true, true},
        "application/json");
    const bool had = fetch.status == 200 && load(fetch.body);
    if (had && !m_file.isEmpty() && QDir().mkpath(QFileInfo(m_file).absolutePath())) {
        QSaveFile kept(m_file);
        if (kept.open(QIODevice::WriteOnly) && kept.write(fetch.body) == fetch.body.size())
            kept.commit();
    }
    const std::lock_guard lock(m_mutex);
    if (had)
        m_fetched = m_now();
    else
        std::fprintf(stderr, "domain-whois-service: RDAP bootstrap %s not had (%s); %s\n",
            qPrintable(m_url),
            qPrintable(
                fetch.error.isEmpty() ? QStringLiteral("HTTP %1").arg(fetch.status) : fetch.error),
            m_fetched ? "the kept copy serves" : "port 43 serves alone");
    m_fetching = false;
    m_fetchEnded.notify_all();
}

QStringList RdapBootstrap::serversFor(const QString& tld, Clock::time_point waitUntil)
{
    std::unique_lock lock(m_mutex);
    const Clock::time_point now = m_now();
    const bool old = !m_fetched || now - *m_fetched >= kBootstrapLife;
    const bool tried = m_lastTry && now - *m_lastTry < kRetryAfterFailure;
    if (!m_url.isEmpty() && old && !tried && !m_fetching) {
        m_lastTry = now;
        m_fetching = true;
        lock.unlock();
        {
            const std::lock_guard thread(m_refresherMutex);
            if (m_refresher.joinable())
                m_refresher.join(); // the last refresh, ended before m_fetching was cleared
            m_refresher = std::thread([this] { refresh(); });
        }
        lock.lock();
    }
    // No copy yet: the fetch under way is worth part of the look-up's time.
    if (m_servers.isEmpty())
        m_fetchEnded.wait_until(lock, waitUntil, [this] { return !m_fetching; });
    return m_servers.value(tld.toLower());
}

namespace {

// A server's "too many requests" holds it off for as long as it asks.
void holdOffAfter(Politeness& politeness, const QString& host, const HttpFetch& fetch)
{
    if (fetch.status == 429 || (fetch.status == 503 && fetch.retryAfter.count() > 0))
        politeness.holdOff(
            host, fetch.retryAfter.count() > 0 ? fetch.retryAfter : kHoldOffWithoutRetryAfter);
}

} // namespace

RdapClient::RdapClient(RdapBootstrap& bootstrap, bool allowLoopback)
    : m_bootstrap(bootstrap), m_allowLoopback(allowLoopback)
{ }

HttpFetch RdapClient::ask(const QString& url, Upstream kind, Deadline deadline,
    Politeness& politeness, LookupResult& result)
{
    const QString host = QUrl(url).host();
    // A look-up run again after waiting replays what it heard before.
    if (const HttpFetch* heard
        = deadline.lookup ? deadline.lookup->heard<HttpFetch>(url) : nullptr) {
        result.asked << url;
        return *heard;
    }
    switch (politeness.enter(host, kind, deadline)) {
    case Politeness::Verdict::Limited:
        result.ownLimit = true;
        return {429, {}, {}, host + QStringLiteral(": our own limit")};
    case Politeness::Verdict::HeldOff:
        return {429, {}, {}, host + QStringLiteral(": holds us off")};
    case Politeness::Verdict::Late:
        result.ownLimit = true;
        return {0, {}, {}, host + QStringLiteral(": no time left for a query")};
    case Politeness::Verdict::Queued:
        throw Parked {};
    case Politeness::Verdict::Go:
        break;
    }
    result.asked << url;
    const FetchRules rules {m_allowLoopback, m_allowLoopback, false};
    if (deadline.lookup && deadline.lookup->resume) {
        // The answer is awaited on the transfer thread; the look-up resumes once it is in.
        politeness.away();
        httpGetAsync(url, deadline, rules, kRdapJson,
            [&politeness, host, url, lookup = deadline.lookup->shared_from_this()](
                HttpFetch fetch) {
                holdOffAfter(politeness, host, fetch);
                lookup->hear(url, fetch);
                politeness.leave(host);
                lookup->resume();
                politeness.back();
            });
        throw Parked {};
    }
    HttpFetch fetch = httpGet(url, deadline, rules, kRdapJson);
    politeness.leave(host);
    if (deadline.lookup)
        deadline.lookup->hear(url, fetch);
    holdOffAfter(politeness, host, fetch);
    return fetch;
}

std::optional<LookupResult> RdapClient::lookUp(
    const QString& domain, Deadline deadline, Politeness& politeness)
{
    // Waiting for a first bootstrap copy may take half the look-up's time; port 43 has the rest.
    const QStringList servers
        = m_bootstrap.serversFor(topLevel(domain), Clock::now() + deadline.left() / 2);
    if (servers.isEmpty())
        return std::nullopt;
    LookupResult result;
    QStringList failures;
    bool limited = false;
    for (QString base : servers) {
        if (deadline.passed())
            break;
        if (!base.endsWith(u'/'))
            base += u'/';
        const HttpFetch fetch = ask(base + QStringLiteral("domain/") + domain, Upstream::Registry,
            deadline, politeness, result);
        if (fetch.status == 404) {
            result.outcome = Outcome::NotRegistered;
            return result;
        }
        const RdapReading reading
            = fetch.status == 200 ? readRdapDomain(fetch.body) : RdapReading {};
        if (reading.valid) {
            result.outcome = Outcome::Registered;
            result.record = reading.record;
            followRelated(reading, deadline, politeness, result);
            return result;
        }
        // Another server of the TLD may do better.
        limited = limited || fetch.status == 429;
        failures << (!fetch.error.isEmpty() ? fetch.error
                : fetch.status == 429       ? base + QStringLiteral(": too many requests")
                : fetch.status != 200       ? base + QStringLiteral(": HTTP %1").arg(fetch.status)
                                            : base + QStringLiteral(": not a domain object"));
    }
    result.outcome = limited ? Outcome::RateLimited : Outcome::Unavailable;
    result.detail = QStringLiteral("RDAP: ") + failures.join(QStringLiteral("; "));
    return result;
}

void RdapClient::followRelated(
    const RdapReading& registry, Deadline deadline, Politeness& politeness, LookupResult& result)
{
    // A thin registry's answer links to the registrar's, which knows the registrant. When that
    // hop fails, the registry's own facts are shown, and kept no longer than a failure.
    const QUrl related(registry.related);
    if (!registry.lacksRegistrant || registry.related.size() > kLongestLink || !related.isValid()
        || related.host().isEmpty()
        || (related.scheme() != QLatin1String("https")
            && related.scheme() != QLatin1String("http")))
        return;
    LookupResult hop;
    const HttpFetch more = ask(related.toString(), Upstream::Registrar, deadline, politeness, hop);
    const RdapReading registrar = more.status == 200 ? readRdapDomain(more.body) : RdapReading {};
    if (registrar.valid) {
        result.asked << hop.asked; // the page names where its facts came from
        result.record.fillFrom(registrar.record);
        return;
    }
    result.incomplete = true;
    result.detail = QStringLiteral("RDAP registrar ") + related.host() + QStringLiteral(": ")
        + (!more.error.isEmpty()     ? more.error
                : more.status != 200 ? QStringLiteral("HTTP %1").arg(more.status)
                                     : QStringLiteral("not a domain object"));
}
