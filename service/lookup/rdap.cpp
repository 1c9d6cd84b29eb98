#include "rdap.h"

#include <QUrl>

#include "service/limits.h"
#include "service/names/domainname.h"

namespace {

QString fetchFailure(const QString& where, const HttpFetch& fetch)
{
    return fetch.failure != Failure::None ? fetch.detail
        : fetch.status == 429             ? describeFailure(Failure::TooManyRequests, where)
        : fetch.status != 200
        ? describeFailure(Failure::HttpStatus, where, QString::number(fetch.status))
        : describeFailure(Failure::NotDomainObject, where);
}

} // namespace

Task<std::optional<LookupResult>> RdapLookUp::lookUp(const LookupRequest& request)
{
    // Waiting for a first bootstrap copy may take half the look-up's time; port 43 has the rest.
    const Clock::time_point now = m_hops.runtime().now();
    const QStringList servers = co_await m_bootstrap.serversFor(
        topLevel(request.domain), now + (request.deadline - now) / 2);
    if (servers.isEmpty())
        co_return std::nullopt;
    LookupResult result;
    QStringList failures;
    bool limited = false;
    for (QString base : servers) {
        if (m_hops.runtime().now() >= request.deadline)
            break;
        if (!base.endsWith(u'/'))
            base += u'/';
        RdapReading reading;
        {
            // What is read is kept, the answer itself not: the look-up may wait a while yet.
            const HttpFetch fetch
                = co_await m_hops.rdap(base + QStringLiteral("domain/") + request.domain,
                    Upstream::Registry, request, result);
            if (fetch.status == 404) {
                result.outcome = Outcome::NotRegistered;
                co_return result;
            }
            if (fetch.status == 200)
                reading = readRdapDomain(fetch.body);
            if (!reading.valid) {
                // Another server of the TLD may do better.
                limited = limited || fetch.status == 429;
                failures << fetchFailure(base, fetch);
                continue;
            }
        }
        result.outcome = Outcome::Registered;
        result.record = reading.record;
        result.from << base + QStringLiteral("domain/") + request.domain;
        co_await followRelated(reading, request, result);
        co_return result;
    }
    result.outcome = limited ? Outcome::RateLimited : Outcome::Unavailable;
    result.detail = QStringLiteral("RDAP: ") + failures.join(QStringLiteral("; "));
    co_return result;
}

Task<void> RdapLookUp::followRelated(
    const RdapReading& registry, const LookupRequest& request, LookupResult& result)
{
    // A thin registry's answer links to the registrar's, which knows the registrant. When that
    // hop fails, the registry's own facts are shown, and kept no longer than a failure.
    const QUrl related(registry.related);
    if (!registry.lacksRegistrant || registry.related.size() > limits::kLongestLink
        || !related.isValid() || related.host().isEmpty()
        || (related.scheme() != QLatin1String("https")
            && related.scheme() != QLatin1String("http")))
        co_return;
    LookupResult hop;
    const HttpFetch more
        = co_await m_hops.rdap(related.toString(), Upstream::Registrar, request, hop);
    const RdapReading registrar = more.status == 200 ? readRdapDomain(more.body) : RdapReading {};
    if (registrar.valid) {
        result.asked << hop.asked; // the page names where its facts came from
        result.from << related.toString();
        result.record.fillFrom(registrar.record);
        co_return;
    }
    result.incomplete = true;
    result.detail = QStringLiteral("RDAP registrar ") + fetchFailure(related.host(), more);
}
