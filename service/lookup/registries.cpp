#include "registries.h"

#include <QRegularExpression>

#include "service/limits.h"
#include "service/names/domainname.h"
#include "service/reading/whoistext.h"

namespace {

// A hop's failure as the page tells it: a limit, or no answer.
Outcome outcomeOf(Failure failure)
{
    return failure == Failure::OwnLimit || failure == Failure::HeldOff
            || failure == Failure::TooManyRequests
        ? Outcome::RateLimited
        : Outcome::Unavailable;
}

void failWith(LookupResult& result, Failure failure, const QString& detail)
{
    result.outcome = outcomeOf(failure);
    result.detail = detail;
    result.ownLimit = isOwnFailure(failure);
}

} // namespace

bool isReferralHost(const QString& value)
{
    static const QRegularExpression host(
        QStringLiteral("^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)(\\.[A-Za-z0-9]("
                       "[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    return host.match(value).hasMatch();
}

Registries::Registries(RegistrySettings settings, Runtime runtime, RdapBootstrap* bootstrap)
    : m_hops(std::move(settings), std::move(runtime))
    , m_bootstrap(bootstrap)
    , m_iana(m_hops.runtime().executor)
{
    if (m_bootstrap)
        m_rdap.emplace(m_hops, *m_bootstrap);
}

void Registries::start(LookupRequest request, std::function<void(LookupResult)> done)
{
    run(std::move(request), std::move(done));
}

Detached Registries::run(LookupRequest request, std::function<void(LookupResult)> done)
{
    const TaskCounter::Guard running(m_hops.runtime().tasks);
    LookupResult result;
    try {
        result = co_await lookUp(request);
    } catch (const std::exception& error) {
        result = {};
        fail(result, Outcome::Unavailable, Failure::Internal, request.domain,
            QString::fromLocal8Bit(error.what()));
    } catch (...) {
        result = {};
        fail(result, Outcome::Unavailable, Failure::Internal, request.domain);
    }
    done(std::move(result));
}

void Registries::stop()
{
    m_hops.turns().stop();
    if (m_bootstrap)
        m_bootstrap->stop();
}

Task<LookupResult> Registries::lookUp(LookupRequest request)
{
    if (m_rdap) {
        std::optional<LookupResult> viaRdap = co_await m_rdap->lookUp(request);
        if (viaRdap) {
            const bool failed = viaRdap->outcome == Outcome::Unavailable
                || (viaRdap->outcome == Outcome::RateLimited && !viaRdap->ownLimit);
            if (!failed || m_hops.runtime().now() >= request.deadline)
                co_return std::move(*viaRdap);
            // RDAP failed or holds us off: port 43 with the time that is left.
            LookupResult viaWhois = co_await overPort43(request);
            viaWhois.asked = viaRdap->asked + viaWhois.asked;
            viaWhois.detail = viaRdap->detail
                + (viaWhois.detail.isEmpty() ? QString() : QStringLiteral("; ") + viaWhois.detail);
            co_return viaWhois;
        }
    }
    LookupResult viaWhois = co_await overPort43(request);
    co_return viaWhois;
}

Task<Registries::TldServer> Registries::tldServer(
    QString tld, const LookupRequest& request, LookupResult& result)
{
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_tldServers.constFind(tld);
        if (found != m_tldServers.cend() && m_hops.runtime().now() < found->until)
            co_return* found;
    }
    // Whoever asks first asks IANA, and logs it; those asking meanwhile wait for its answer.
    std::function<Task<TldServer>()> ask
        = [this, tld, request, &result] { return askIana(tld, request, &result); };
    Task<TldServer> flight = m_iana.run(tld, std::move(ask));
    TldServer server = co_await flight;
    co_return server;
}

Task<Registries::TldServer> Registries::askIana(
    QString tld, LookupRequest request, LookupResult* result)
{
    const RegistrySettings& settings = m_hops.settings();
    const WhoisAsked iana = co_await m_hops.whois(settings.ianaHost, settings.ianaPort,
        tld.toUtf8() + "\r\n", true, Upstream::Iana, request, *result);
    if (iana.failure != Failure::None)
        co_return TldServer {QString(), {}, iana.failure, iana.detail}; // unknown for now; not kept
    const QString text = QString::fromUtf8(iana.answer);
    static const QRegularExpression refer(QStringLiteral("^refer:\\s*(\\S+)"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression known(QStringLiteral("^domain:\\s*\\S"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    // Only IANA's own word that it has nothing ("This query returned 0 objects.") means no such
    // TLD; a rate-limit text or a cut answer says nothing about the TLD.
    static const QRegularExpression none(QStringLiteral("^%.*returned 0 objects"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    const Clock::time_point now = m_hops.runtime().now();
    TldServer entry {std::nullopt, now + limits::kTldServerLife, Failure::None, {}};
    if (known.match(text).hasMatch()) {
        entry.server = refer.match(text).captured(1).toLower();
    } else if (!none.match(text).hasMatch()) {
        entry.server = QString();
        entry.until = now + limits::kIanaFailureLife;
        entry.failure = Failure::IanaNotUnderstood;
        entry.detail = describeFailure(Failure::IanaNotUnderstood, u'.' + tld);
    }
    const std::lock_guard lock(m_mutex);
    m_tldServers.insert(tld, entry);
    co_return entry;
}

Task<LookupResult> Registries::overPort43(const LookupRequest& request)
{
    LookupResult result;
    const QString& domain = request.domain;
    const QString tld = topLevel(domain);
    const TldServer tldServed = co_await tldServer(tld, request, result);
    if (!tldServed.server) {
        fail(result, Outcome::NotADomain, Failure::IanaKnowsNoTld, u'.' + tld);
        co_return result;
    }
    if (tldServed.failure != Failure::None) {
        failWith(result, tldServed.failure, tldServed.detail);
        co_return result;
    }
    const QString server = *tldServed.server;
    if (server.isEmpty() || !isReferralHost(server)) {
        fail(result, Outcome::Unavailable, Failure::NoWhoisServer, u'.' + tld);
        co_return result;
    }
    WhoisReading reading;
    {
        // Read at once: the look-up keeps the facts, not the answer, while it waits on.
        const WhoisAsked registry = co_await m_hops.whois(
            server, 43, whoisQueryFor(server, domain), false, Upstream::Registry, request, result);
        if (registry.failure != Failure::None) {
            failWith(result, registry.failure, registry.detail);
            co_return result;
        }
        reading = readAnswerFrom(server, domain, registry.answer);
    }
    result.outcome = reading.outcome;
    result.record = reading.record;
    result.from << server;
    if (reading.outcome == Outcome::Unavailable)
        result.detail = describeFailure(Failure::NotUnderstood, server);
    if (reading.outcome != Outcome::Registered)
        co_return result;

    // A thin registry names the registrar's server, which knows the registrant. When that hop
    // fails, the registry's own facts are shown, and kept no longer than a failure.
    const QString referral = reading.referral.toLower();
    if (!reading.lacksRegistrant || !isReferralHost(referral) || referral == server)
        co_return result;
    LookupResult hop;
    WhoisReading more;
    {
        const WhoisAsked registrar = co_await m_hops.whois(referral, 43,
            whoisQueryFor(referral, domain), false, Upstream::Registrar, request, hop);
        if (registrar.failure == Failure::None)
            more = readAnswerFrom(referral, domain, registrar.answer);
        else
            hop.detail = registrar.detail;
    }
    if (more.outcome == Outcome::Registered) {
        result.asked << hop.asked; // the page names where its facts came from
        result.from << referral;
        result.record.fillFrom(more.record);
    } else {
        result.incomplete = true;
        result.detail = QStringLiteral("registrar ")
            + (!hop.detail.isEmpty() ? hop.detail : describeFailure(Failure::NoRecord, referral));
    }
    co_return result;
}
