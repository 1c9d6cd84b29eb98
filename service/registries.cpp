#include "registries.h"

#include <QRegularExpression>
#include <QScopeGuard>

#include "service/domainname.h"
#include "service/rdap.h"
#include "service/whoistext.h"

using namespace std::chrono;

namespace {

constexpr auto kTldServerLife = hours(24);

} // namespace

bool isReferralHost(const QString& value)
{
    static const QRegularExpression host(
        QStringLiteral("^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)(\\.[A-Za-z0-9]("
                       "[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    return host.match(value).hasMatch();
}

Registries::Registries(RegistrySettings settings, RdapClient* rdap)
    : m_settings(std::move(settings))
    , m_rdap(rdap)
    , m_politeness(m_settings.perServerPerMinute, m_settings.now)
{ }

LookupResult Registries::lookUp(const QString& domain, Deadline deadline)
{
    const std::optional<LookupResult> viaRdap
        = m_rdap ? m_rdap->lookUp(domain, deadline, m_politeness) : std::nullopt;
    if (!viaRdap)
        return overPort43(domain, deadline);
    if (viaRdap->outcome != Outcome::Unavailable || deadline.passed())
        return *viaRdap;
    // RDAP failed: port 43 with the time that is left.
    LookupResult viaWhois = overPort43(domain, deadline);
    viaWhois.asked = viaRdap->asked + viaWhois.asked;
    viaWhois.detail = viaRdap->detail
        + (viaWhois.detail.isEmpty() ? QString() : QStringLiteral("; ") + viaWhois.detail);
    return viaWhois;
}

Registries::Asked Registries::ask(const QString& host, quint16 port, const QByteArray& query,
    bool operatorsChoice, Deadline deadline, LookupResult& result)
{
    result.asked << host;
    const auto fail = [&result](Outcome outcome, const QString& why) {
        result.outcome = outcome;
        result.detail = why;
        return Asked {{}, outcome};
    };
    switch (m_politeness.enter(host, deadline)) {
    case Politeness::Verdict::Limited:
        return fail(Outcome::RateLimited, host + QStringLiteral(": our own limit"));
    case Politeness::Verdict::Late:
        return fail(Outcome::Unavailable, host + QStringLiteral(": no time left for a query"));
    case Politeness::Verdict::Go:
        break;
    }
    const auto leave = qScopeGuard([&] { m_politeness.leave(host); });
    QString why = host + QStringLiteral(": no address");
    for (const Endpoint& endpoint : m_settings.resolve(host, port, deadline)) {
        if (!operatorsChoice && !mayConnect(endpoint.address, m_settings.allowLoopback)) {
            why = host + QStringLiteral(": refused address ") + endpoint.address.toString();
            continue;
        }
        const Exchange exchange = tcpExchange(endpoint, query, deadline);
        if (exchange.error.isEmpty())
            return {exchange.answer, std::nullopt};
        why = host + QStringLiteral(": ") + exchange.error;
        if (deadline.passed())
            break;
    }
    return fail(Outcome::Unavailable, why);
}

std::optional<QString> Registries::tldServer(
    const QString& tld, Deadline deadline, LookupResult& result)
{
    const auto cached = [&]() -> std::optional<std::optional<QString>> {
        const std::lock_guard lock(m_mutex);
        const auto found = m_tldServers.constFind(tld);
        if (found != m_tldServers.cend() && m_settings.now() - found->at < kTldServerLife)
            return found->server;
        return std::nullopt;
    };
    if (const auto known = cached())
        return *known;
    std::unique_lock asking(m_askingIana, std::defer_lock);
    if (!asking.try_lock_until(deadline.at)) {
        result.detail = QStringLiteral("IANA still asked at the deadline");
        return QString();
    }
    if (const auto known = cached()) // asked meanwhile by another look-up
        return *known;
    const Asked iana = ask(
        m_settings.ianaHost, m_settings.ianaPort, tld.toUtf8() + "\r\n", true, deadline, result);
    if (iana.failure)
        return QString(); // unknown for now; not kept
    const QString text = QString::fromUtf8(iana.answer);
    static const QRegularExpression refer(QStringLiteral("^refer:\\s*(\\S+)"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression known(QStringLiteral("^domain:\\s*\\S"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    std::optional<QString> server;
    if (known.match(text).hasMatch())
        server = refer.match(text).captured(1).toLower();
    const std::lock_guard lock(m_mutex);
    m_tldServers.insert(tld, {server, m_settings.now()});
    return server;
}

LookupResult Registries::overPort43(const QString& domain, Deadline deadline)
{
    LookupResult result;
    const QString tld = topLevel(domain);
    const std::optional<QString> server = tldServer(tld, deadline, result);
    if (!server) {
        result.outcome = Outcome::NotADomain;
        result.detail = QStringLiteral("IANA knows no .") + tld;
        return result;
    }
    if (server->isEmpty() || !isReferralHost(*server)) {
        if (result.detail.isEmpty())
            result.detail = QStringLiteral("no whois server for .") + tld;
        return result; // as the failed question left it, Unavailable unless limited
    }
    const Asked registry
        = ask(*server, 43, whoisQueryFor(*server, domain), false, deadline, result);
    if (registry.failure) {
        result.outcome = *registry.failure;
        return result;
    }
    const WhoisReading reading = readAnswerFrom(*server, domain, registry.answer);
    result.outcome = reading.outcome;
    result.record = reading.record;
    if (reading.outcome == Outcome::Unavailable)
        result.detail = *server + QStringLiteral(": answer not understood");
    if (reading.outcome != Outcome::Registered)
        return result;

    // A thin registry names the registrar's server, which knows the registrant.
    const QString referral = reading.referral.toLower();
    if (reading.lacksRegistrant && isReferralHost(referral) && referral != *server) {
        const Asked registrar
            = ask(referral, 43, whoisQueryFor(referral, domain), false, deadline, result);
        if (!registrar.failure) {
            const WhoisReading more = readAnswerFrom(referral, domain, registrar.answer);
            if (more.outcome == Outcome::Registered)
                result.record.fillFrom(more.record);
        }
    }
    return result;
}
