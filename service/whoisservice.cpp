#include "whoisservice.h"

#include <cstdio>

#include <QDateTime>

#include "service/domainname.h"
#include "service/page.h"
#include "service/whoistext.h"

using namespace std::chrono;

namespace {

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
    // Every suspended request is answered before the server goes: the pool answers what waits
    // and lets what runs finish, and refuses (answering at once) what comes meanwhile.
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
        return whois(found == request.query.cend() ? std::nullopt : std::optional(*found), respond);
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

void WhoisService::whois(const std::optional<QByteArray>& typed, const Respond& respond)
{
    static const auto notADomain = statePage(Outcome::NotADomain);
    static const auto unavailable = statePage(Outcome::Unavailable);
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
    const Deadline deadline {started + m_settings.budget};
    const QString name = *domain;
    const bool taken = m_pool.submit({[this, name, deadline] { lookUp(name, deadline); },
        [this, name] { m_cache.finish(name, unavailable, seconds(0)); }});
    if (!taken) {
        ++m_failures;
        m_cache.finish(name, unavailable, seconds(0));
    }
}

void WhoisService::lookUp(const QString& domain, Deadline deadline)
{
    const Clock::time_point started = Clock::now();
    const LookupResult result = m_registries.lookUp(domain, deadline);
    ++m_lookUps;
    if (result.outcome == Outcome::RateLimited || result.outcome == Outcome::Unavailable)
        ++m_failures;
    log(domain, result, started);
    // Kept as long as downstream caches are told they may keep it; an unknown TLD's page is not
    // kept, as IANA's answer already is.
    const auto page = std::make_shared<const Reply>(whoisPage(domain, result));
    const bool keep = result.outcome != Outcome::NotADomain;
    m_cache.finish(domain, page, seconds(keep ? page->maxAgeSeconds : 0));
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
