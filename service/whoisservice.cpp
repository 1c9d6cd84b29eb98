#include "whoisservice.h"

#include <cstdio>

#include <QDateTime>

#include "service/http/page.h"
#include "service/http/rdapobject.h"
#include "service/names/domainname.h"
#include "service/reading/whoistext.h"

using namespace std::chrono;

// One look-up under way: its domain, and when its first client asked.
struct WhoisService::Run
{
    QString domain;
    Clock::time_point started;
};

namespace {

// A look-up's answer in every form.
LookupAnswer answerOf(const QString& domain, const LookupResult& result)
{
    return {std::make_shared<const Reply>(whoisPage(domain, result)),
        std::make_shared<const Reply>(rdapDomainReply(domain, result))};
}

// The answer of a state that needs no look-up, made once.
LookupAnswer stateAnswer(Outcome outcome)
{
    LookupResult result;
    result.outcome = outcome;
    return answerOf({}, result);
}

} // namespace

WhoisService::WhoisService(ServiceSettings settings)
    : m_settings(std::move(settings))
    , m_pool(m_settings.workers)
    , m_network({m_settings.dnsServers})
    , m_timers(m_settings.registries.now)
    , m_runtime {m_pool, m_network, m_timers, m_tasks, m_settings.registries.now}
    , m_bootstrap(m_settings.rdapBootstrap.isEmpty()
              ? nullptr
              : std::make_unique<RdapBootstrap>(m_settings.rdapBootstrap, m_settings.cacheDir,
                  m_settings.registries.allowLoopback, m_runtime))
    , m_registries(m_settings.registries, m_runtime, m_bootstrap.get())
    , m_cache(m_settings.registries.now, m_settings.cacheBytes)
    , m_http(std::make_unique<HttpServer>(
          m_settings.listen,
          [this](const HttpRequest& request, Respond respond) { handle(request, respond); },
          m_settings.http))
{ }

WhoisService::~WhoisService()
{
    // Every waiting client is answered at once; then every wait ends (turns, the bootstrap, the
    // network, timers), the look-ups run to their ends on the pool, and only then does it go.
    static const LookupAnswer unavailable = stateAnswer(Outcome::Unavailable);
    m_stopping = true;
    m_cache.abandon(unavailable);
    m_registries.stop();
    m_network.stop();
    m_timers.stop();
    if (!m_tasks.waitForNone(seconds(2)))
        std::fputs("domain-whois-service: look-ups still under way at stop\n", stderr);
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
        return lookUp(found == request.query.cend() ? std::nullopt : std::optional(*found),
            Form::Page, request.client, respond);
    }
    static const QByteArray rdapDomain = "/rdap/domain/";
    if (request.path.startsWith(rdapDomain))
        return lookUp(request.path.mid(rdapDomain.size()), Form::Rdap, request.client, respond);
    if (request.path == "/rdap/help") {
        static const auto help = std::make_shared<const Reply>(rdapHelpReply());
        return respond({help, {}});
    }
    if (request.path.startsWith("/rdap/")) // RFC 7480 5.4: a query type not served
        return send(rdapErrorReply(501, QStringLiteral("Not Implemented"),
            QStringLiteral("this server answers domain queries only")));
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

void WhoisService::lookUp(const std::optional<QByteArray>& typed, Form form, const QString& client,
    const Respond& respond)
{
    static const LookupAnswer notADomain = stateAnswer(Outcome::NotADomain);
    const Clock::time_point started = Clock::now();
    const std::optional<QString> domain = typed && typed->size() <= limits::kMaxQueryOctets
        ? registrableDomain(decodeTyped(*typed))
        : std::nullopt;
    if (!domain) {
        LookupResult result;
        result.outcome = Outcome::NotADomain;
        log(typed ? QString::fromUtf8(typed->left(limits::kMaxQueryOctets).toPercentEncoding())
                  : QStringLiteral("-"),
            result, started);
        return respond({notADomain.in(form), {}});
    }
    Sent hit;
    switch (m_cache.claim(*domain, form, respond, &hit)) {
    case AnswerCache::Claim::Hit:
        ++m_fromCache;
        return respond(hit);
    case AnswerCache::Claim::Joined:
        return;
    case AnswerCache::Claim::Lead:
        break;
    }
    const auto run = std::make_shared<Run>(Run {*domain, started});
    const auto refused = [this, run](Failure failure) {
        LookupResult result;
        fail(result, failure == Failure::Stopping ? Outcome::Unavailable : Outcome::RateLimited,
            failure, {});
        finish(*run, result, false);
    };
    if (m_stopping)
        return refused(Failure::Stopping);
    if (++m_underWay > limits::kMostLookups) {
        --m_underWay;
        return refused(Failure::OwnLimit);
    }
    const LookupRequest request {*domain, client, m_settings.registries.now() + m_settings.budget};
    // Counted from here, so that stopping waits for a look-up still waiting to begin.
    const auto counted = std::make_shared<TaskCounter::Guard>(m_tasks);
    const bool begun = m_pool.begin(
        [this, run, request, counted] {
            m_registries.start(request, [this, run, counted](const LookupResult& result) {
                --m_underWay;
                finish(*run, result);
            });
        },
        m_settings.queueLimit);
    if (!begun) {
        --m_underWay;
        refused(m_stopping ? Failure::Stopping : Failure::Busy);
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
    const bool keep
        = (result.outcome != Outcome::NotADomain || unknownSuffix) && !(failed && result.ownLimit);
    const LookupAnswer answer = answerOf(run.domain, result);
    m_cache.finish(run.domain, answer, seconds(keep ? answer.page->maxAgeSeconds : 0));
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
