#include "registries.h"

#include <QRegularExpression>
#include <QScopeGuard>

#include "service/names/domainname.h"
#include "service/lookup/rdap.h"
#include "service/reading/whoistext.h"

using namespace std::chrono;

namespace {

constexpr auto kTldServerLife = hours(24);
// As long as a failed look-up's page is kept.
constexpr auto kIanaFailureLife = seconds(30);

// What a look-up heard from a server, by server and query.
QString heardKey(const QString& host, quint16 port, const QByteArray& query)
{
    return host + u' ' + QString::number(port) + u' ' + QString::fromUtf8(query);
}

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
    , m_politeness(m_settings.perMinute, m_settings.now)
{ }

LookupResult Registries::lookUp(const QString& domain, Deadline deadline)
{
    const std::optional<LookupResult> viaRdap
        = m_rdap ? m_rdap->lookUp(domain, deadline, m_politeness) : std::nullopt;
    if (!viaRdap)
        return overPort43(domain, deadline);
    const bool failed = viaRdap->outcome == Outcome::Unavailable
        || (viaRdap->outcome == Outcome::RateLimited && !viaRdap->ownLimit);
    if (!failed || deadline.passed())
        return *viaRdap;
    // RDAP failed or holds us off: port 43 with the time that is left.
    LookupResult viaWhois = overPort43(domain, deadline);
    viaWhois.asked = viaRdap->asked + viaWhois.asked;
    viaWhois.detail = viaRdap->detail
        + (viaWhois.detail.isEmpty() ? QString() : QStringLiteral("; ") + viaWhois.detail);
    return viaWhois;
}

Registries::Asked Registries::ask(const QString& host, quint16 port, const QByteArray& query,
    bool operatorsChoice, Deadline deadline, LookupResult& result, Upstream kind)
{
    result.asked << host;
    const auto fail = [&result](Outcome outcome, const QString& why, bool ownLimit = false) {
        result.outcome = outcome;
        result.detail = why;
        result.ownLimit = ownLimit;
        return Asked {{}, outcome, why};
    };
    // A look-up run again after waiting replays what it heard before.
    const QString key = heardKey(host, port, query);
    if (const Asked* heard = deadline.lookup ? deadline.lookup->heard<Asked>(key) : nullptr)
        return heard->failure ? fail(*heard->failure, heard->why) : *heard;
    switch (m_politeness.enter(host, kind, deadline)) {
    case Politeness::Verdict::Limited:
        return fail(Outcome::RateLimited, host + QStringLiteral(": our own limit"), true);
    case Politeness::Verdict::HeldOff:
        return fail(Outcome::RateLimited, host + QStringLiteral(": holds us off"));
    case Politeness::Verdict::Late:
        return fail(
            Outcome::Unavailable, host + QStringLiteral(": no time left for a query"), true);
    case Politeness::Verdict::Queued:
        throw Parked {};
    case Politeness::Verdict::Go:
        break;
    }
    auto leave = qScopeGuard([&] { m_politeness.leave(host); });
    const auto hear = [&](Asked asked) {
        if (deadline.lookup)
            deadline.lookup->hear(key, asked);
        return asked;
    };
    QString why = host + QStringLiteral(": no address");
    std::vector<Endpoint> endpoints;
    for (const Endpoint& endpoint : m_settings.resolve(host, port, deadline)) {
        if (!operatorsChoice && !mayConnect(endpoint.address, m_settings.allowLoopback))
            why = host + QStringLiteral(": refused address ") + endpoint.address.toString();
        else
            endpoints.push_back(endpoint);
    }
    if (!endpoints.empty() && deadline.lookup && deadline.lookup->resume) {
        // The answer is awaited on the transfer thread; the look-up resumes once it is in.
        leave.dismiss();
        m_politeness.away();
        talk(deadline.lookup->shared_from_this(), host, key, std::move(endpoints), query, deadline);
        throw Parked {};
    }
    for (const Endpoint& endpoint : endpoints) {
        const Exchange exchange = tcpExchange(endpoint, query, deadline);
        if (exchange.error.isEmpty())
            return hear({exchange.answer, std::nullopt, {}});
        why = host + QStringLiteral(": ") + exchange.error;
        if (deadline.passed())
            break;
    }
    return hear(fail(Outcome::Unavailable, why));
}

void Registries::talk(const std::shared_ptr<Lookup>& lookup, const QString& host,
    const QString& key, std::vector<Endpoint> endpoints, const QByteArray& query, Deadline deadline)
{
    const Endpoint to = endpoints.front();
    tcpExchangeAsync(to, query, deadline,
        [=, rest = std::vector<Endpoint>(endpoints.begin() + 1, endpoints.end())](
            Exchange exchange) {
            if (!exchange.error.isEmpty() && !rest.empty() && !deadline.passed())
                return talk(lookup, host, key, rest, query, deadline); // the next address
            lookup->hear(key,
                exchange.error.isEmpty() ? Asked {exchange.answer, std::nullopt, {}}
                                         : Asked {{}, Outcome::Unavailable,
                                             host + QStringLiteral(": ") + exchange.error});
            m_politeness.leave(host);
            lookup->resume();
            m_politeness.back();
        });
}

std::optional<QString> Registries::tldServer(
    const QString& tld, Deadline deadline, LookupResult& result)
{
    const auto cached = [&]() -> std::optional<std::optional<QString>> {
        const std::lock_guard lock(m_mutex);
        const auto found = m_tldServers.constFind(tld);
        if (found == m_tldServers.cend() || m_settings.now() >= found->until)
            return std::nullopt;
        if (!found->failure.isEmpty()) {
            result.detail = found->failure;
            return QString();
        }
        return found->server;
    };
    // IANA is asked one query at a time: a look-up that waited for it finds the TLD known now.
    // One that asked IANA itself hears its own answer again when run again, as it logs it.
    const bool heard = deadline.lookup
        && deadline.lookup->heard<Asked>(
            heardKey(m_settings.ianaHost, m_settings.ianaPort, tld.toUtf8() + "\r\n"));
    if (const auto known = heard ? std::nullopt : cached())
        return *known;
    const Asked iana = ask(m_settings.ianaHost, m_settings.ianaPort, tld.toUtf8() + "\r\n", true,
        deadline, result, Upstream::Iana);
    if (iana.failure)
        return QString(); // unknown for now; not kept
    const QString text = QString::fromUtf8(iana.answer);
    static const QRegularExpression refer(QStringLiteral("^refer:\\s*(\\S+)"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression known(QStringLiteral("^domain:\\s*\\S"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    // Only IANA's own word that it has nothing ("This query returned 0 objects.") means no such
    // TLD; a rate-limit text or a cut answer says nothing about the TLD.
    static const QRegularExpression none(QStringLiteral("^%.*returned 0 objects"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    TldServer entry {std::nullopt, m_settings.now() + kTldServerLife, {}};
    if (known.match(text).hasMatch()) {
        entry.server = refer.match(text).captured(1).toLower();
    } else if (!none.match(text).hasMatch()) {
        entry.server = QString();
        entry.until = m_settings.now() + kIanaFailureLife;
        entry.failure
            = QStringLiteral("IANA's answer for .") + tld + QStringLiteral(" not understood");
        result.detail = entry.failure;
    }
    const std::lock_guard lock(m_mutex);
    m_tldServers.insert(tld, entry);
    return entry.server;
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

    // A thin registry names the registrar's server, which knows the registrant. When that hop
    // fails, the registry's own facts are shown, and kept no longer than a failure.
    const QString referral = reading.referral.toLower();
    if (reading.lacksRegistrant && isReferralHost(referral) && referral != *server) {
        LookupResult hop;
        const Asked registrar = ask(referral, 43, whoisQueryFor(referral, domain), false, deadline,
            hop, Upstream::Registrar);
        const WhoisReading more = registrar.failure
            ? WhoisReading {}
            : readAnswerFrom(referral, domain, registrar.answer);
        if (more.outcome == Outcome::Registered) {
            result.asked << hop.asked; // the page names where its facts came from
            result.record.fillFrom(more.record);
        } else {
            result.incomplete = true;
            result.detail = QStringLiteral("registrar ")
                + (registrar.failure ? hop.detail : referral + QStringLiteral(": no record"));
        }
    }
    return result;
}
