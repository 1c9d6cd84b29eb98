#include "whoisservice.h"

#include <cstdio>

#include <QDateTime>

#include "service/names/domainname.h"
#include "service/http/page.h"
#include "service/reading/whoistext.h"

using namespace std::chrono;

// One look-up under way: the domain, its budget, and whether a worker runs it now.
struct WhoisService::Run : Lookup
{
    QString domain;
    Deadline deadline;
    Clock::time_point started;
    std::mutex mutex;
    bool running = false; // on a worker
    bool again = false; // resumed while running: runs again when this run parks
};

namespace {

// What downstream caches may keep a failure of the service's own making: briefly, as a hint to
// come back soon.
constexpr seconds kOwnFailureLife {5};

// The page of a state that needs no look-up, made once.
std::shared_ptr<const Reply> statePage(Outcome outcome)
{
    LookupResult result;
    result.outcome = outcome;
    return std::make_shared<const Reply>(whoisPage({}, result));
}

} // namespace

WhoisService::WhoisService(ServiceSettings settings)
    : m_settings(std::move(settings))
    , m_bootstrap(m_settings.rdapBootstrap.isEmpty()
              ? nullptr
              : std::make_unique<RdapBootstrap>(m_settings.rdapBootstrap, m_settings.cacheDir,
                  m_settings.registries.allowLoopback))
    , m_rdap(m_bootstrap
              ? std::make_unique<RdapClient>(*m_bootstrap, m_settings.registries.allowLoopback)
              : nullptr)
    , m_registries(m_settings.registries, m_rdap.get())
    , m_cache(m_settings.registries.now, m_settings.cacheBytes)
    , m_pool(m_settings.workers, m_settings.queueLimit)
    , m_http(std::make_unique<HttpServer>(
          m_settings.listen,
          [this](const HttpRequest& request, Respond respond) { handle(request, respond); },
          m_settings.http))
{ }

WhoisService::~WhoisService()
{
    // Every suspended client is answered at once: hops under way see their look-up cancelled,
    // look-ups waiting for a server are forgotten, and whoever still waits gets "unavailable".
    static const auto unavailable = statePage(Outcome::Unavailable);
    *m_stopping = true;
    m_registries.politeness().stop();
    m_cache.abandon(unavailable);
    m_registries.politeness().drain(); // answers awaited on the transfer thread, cut short
    m_pool.stop();
    m_http.reset();
}

ServiceStatus WhoisService::status() const
{
    QStringList formats;
    for (const WhoisFormat& format : whoisFormats())
        formats << QString::fromLatin1(format.name);
    return {duration_cast<seconds>(Clock::now() - m_started).count(), m_lookUps, m_fromCache,
        m_failures, m_cache.size(), formats};
}

void WhoisService::handle(const HttpRequest& request, const Respond& respond)
{
    const auto send = [&respond](Reply reply) {
        respond({std::make_shared<const Reply>(std::move(reply)), {}});
    };
    if (request.method != "GET" && request.method != "HEAD")
        return send(methodNotAllowedPage());
    if (request.path == "/cgi-bin/whois") {
        const auto found = request.query.constFind("domain");
        return whois(found == request.query.cend() ? std::nullopt : std::optional(*found),
            request.client, respond);
    }
    if (request.path == "/ad/ad2.html")
        return send(bannerPage(status()));
    if (request.path == "/" || request.path == "/index.html")
        return send(homePage(status()));
    if (request.path == "/screenshot.png") {
        static const auto image = std::make_shared<const Reply>(screenshot());
        return respond({image, {}});
    }
    send(notFoundPage());
}

void WhoisService::whois(
    const std::optional<QByteArray>& typed, const QString& client, const Respond& respond)
{
    static const auto notADomain = statePage(Outcome::NotADomain);
    const Clock::time_point started = Clock::now();
    const std::optional<QString> domain = typed && typed->size() <= kMaxQueryOctets
        ? registrableDomain(decodeTyped(*typed))
        : std::nullopt;
    if (!domain) {
        LookupResult result;
        result.outcome = Outcome::NotADomain;
        log(typed ? QString::fromUtf8(typed->left(kMaxQueryOctets).toPercentEncoding())
                  : QStringLiteral("-"),
            result, started);
        return respond({notADomain, {}});
    }
    Sent hit;
    switch (m_cache.claim(*domain, respond, &hit)) {
    case AnswerCache::Claim::Hit:
        ++m_fromCache;
        return respond(hit);
    case AnswerCache::Claim::Joined:
        return;
    case AnswerCache::Claim::Lead:
        break;
    }
    auto run = std::make_shared<Run>();
    run->client = client;
    run->stopping = m_stopping;
    run->domain = *domain;
    run->started = started;
    run->deadline = {started + m_settings.budget, run.get()};
    run->resume = [this, weak = std::weak_ptr<Run>(run)] {
        if (const std::shared_ptr<Run> waiting = weak.lock())
            schedule(waiting);
    };
    schedule(run);
}

void WhoisService::schedule(const std::shared_ptr<Run>& run)
{
    {
        const std::lock_guard lock(run->mutex);
        if (run->running) {
            run->again = true;
            return;
        }
        run->running = true;
    }
    const auto stopped = [this, run] {
        LookupResult result;
        result.detail = QStringLiteral("the service stops");
        result.ownLimit = true;
        finish(*run, result, false);
    };
    if (m_pool.submit({[this, run] { lookUp(run); }, stopped}))
        return;
    if (*m_stopping)
        return stopped();
    // The service's own limit: said so, and not kept.
    LookupResult result;
    result.outcome = Outcome::RateLimited;
    result.detail = QStringLiteral("every worker busy and the queue full");
    result.ownLimit = true;
    m_registries.politeness().release(run.get());
    finish(*run, result, false);
}

void WhoisService::lookUp(const std::shared_ptr<Run>& run)
{
    for (;;) {
        try {
            const LookupResult result = m_registries.lookUp(run->domain, run->deadline);
            m_registries.politeness().release(run.get());
            return finish(*run, result);
        } catch (const Parked&) { }
        {
            // Resumed while this run was on its way out: run again at once.
            const std::lock_guard lock(run->mutex);
            if (run->again) {
                run->again = false;
                continue;
            }
            run->running = false;
        }
        // Waits in a server's queue, holding no worker.
        m_registries.politeness().release(run.get());
        return;
    }
}

void WhoisService::finish(const Run& run, const LookupResult& heard, bool asked)
{
    // A public suffix is asked of its registry, which holds some (gov.uk); one it does not know
    // either is no domain, and its page is kept as a registry's answer is.
    LookupResult result = heard;
    const bool unknownSuffix
        = heard.outcome == Outcome::NotRegistered && isPublicSuffix(run.domain);
    if (unknownSuffix)
        result.outcome = Outcome::NotADomain;

    const bool failed
        = result.outcome == Outcome::RateLimited || result.outcome == Outcome::Unavailable;
    m_lookUps += asked ? 1 : 0;
    m_failures += failed ? 1 : 0;
    log(run.domain, result, run.started);
    // Kept as long as downstream caches are told they may keep it; an unknown TLD's page is not
    // kept, as IANA's answer already is, nor a failure of the service's own making.
    Reply reply = whoisPage(run.domain, result);
    const bool own = failed && result.ownLimit;
    if (own)
        reply.maxAgeSeconds = int(kOwnFailureLife.count());
    const bool keep = (result.outcome != Outcome::NotADomain || unknownSuffix) && !own;
    const auto page = std::make_shared<const Reply>(std::move(reply));
    m_cache.finish(run.domain, page, seconds(keep ? page->maxAgeSeconds : 0));
}

void WhoisService::log(
    const QString& what, const LookupResult& result, Clock::time_point started) const
{
    const auto took = duration_cast<milliseconds>(Clock::now() - started).count();
    // One arg() for all: a typed text may itself hold "%1".
    const QString line
        = QStringLiteral("%1 %2 asked=%3 %4ms %5%6\n")
              .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate), what,
                  result.asked.isEmpty() ? QStringLiteral("-") : result.asked.join(u','),
                  QString::number(took), QLatin1String(outcomeName(result.outcome)),
                  result.detail.isEmpty() ? QString()
                                          : QStringLiteral(" (") + result.detail + u')');
    std::fputs(line.toUtf8().constData(), stderr);
}
