#include "hops.h"

#include <QUrl>

#include "service/limits.h"

using namespace std::chrono;

namespace {

const QByteArray kRdapJson = "application/rdap+json, application/json;q=0.9";

// Why a turn was not had; None when it was.
Failure failureOf(Turns::Verdict verdict)
{
    switch (verdict) {
    case Turns::Verdict::Go:
        return Failure::None;
    case Turns::Verdict::Limited:
        return Failure::OwnLimit;
    case Turns::Verdict::HeldOff:
        return Failure::HeldOff;
    case Turns::Verdict::Late:
        return Failure::NoTimeLeft;
    case Turns::Verdict::Stopping:
        break;
    }
    return Failure::Stopping;
}

} // namespace

void fail(LookupResult& result, Outcome outcome, Failure failure, const QString& where,
    const QString& detail)
{
    result.outcome = outcome;
    result.detail = describeFailure(failure, where, detail);
    result.ownLimit = isOwnFailure(failure);
}

Hops::Hops(RegistrySettings settings, Runtime runtime)
    : m_settings(std::move(settings))
    , m_runtime(std::move(runtime))
    , m_turns(m_settings.perMinute, m_runtime)
{ }

milliseconds Hops::hopLimit(const LookupRequest& request) const
{
    const auto left = duration_cast<milliseconds>(request.deadline - m_runtime.now());
    return std::clamp(left, milliseconds(0), limits::kHopTimeout);
}

Task<Hops::Reach> Hops::reach(
    QString host, quint16 port, bool operatorsChoice, const LookupRequest& request)
{
    Reach reach;
    std::vector<Endpoint> endpoints;
    if (const auto moved = m_settings.hosts ? m_settings.hosts(host, port) : std::nullopt) {
        endpoints = *moved;
    } else if (const QHostAddress literal(host); !literal.isNull()) {
        endpoints.push_back({literal, port});
    } else {
        const milliseconds limit = hopLimit(request);
        const Resolved resolved
            = co_await m_runtime.await<Resolved>([&](std::function<void(Resolved)> done) {
                  m_runtime.network.resolve(host, limit, std::move(done));
              });
        if (resolved.failure != Failure::None)
            co_return Reach {{}, resolved.failure, resolved.detail};
        for (const QHostAddress& address : resolved.addresses)
            endpoints.push_back({address, port});
    }
    for (const Endpoint& endpoint : endpoints) {
        if (operatorsChoice || mayConnect(endpoint.address, m_settings.allowLoopback))
            reach.endpoints.push_back(endpoint);
        else
            reach.detail = endpoint.address.toString();
    }
    if (reach.endpoints.empty())
        reach.failure = reach.detail.isEmpty() ? Failure::NoAddress : Failure::RefusedAddress;
    co_return reach;
}

Task<WhoisAsked> Hops::whois(QString host, quint16 port, QByteArray query, bool operatorsChoice,
    Upstream kind, const LookupRequest& request, LookupResult& result)
{
    result.asked << host;
    const Reach reached = co_await reach(host, port, operatorsChoice, request);
    if (reached.failure != Failure::None)
        co_return WhoisAsked {
            {}, reached.failure, describeFailure(reached.failure, host, reached.detail)};
    const Turns::Taken taken = co_await m_turns.take(host, kind, request.client, request.deadline);
    if (const Failure refused = failureOf(taken.verdict); refused != Failure::None)
        co_return WhoisAsked {{}, refused, describeFailure(refused, host)};
    WhoisAsked asked;
    for (const Endpoint& endpoint : reached.endpoints) {
        const milliseconds limit = hopLimit(request);
        if (limit <= milliseconds(0))
            break;
        Exchange exchange
            = co_await m_runtime.await<Exchange>([&](std::function<void(Exchange)> done) {
                  m_runtime.network.exchange(endpoint, query, limit, std::move(done));
              });
        if (exchange.failure == Failure::None)
            co_return WhoisAsked {std::move(exchange.answer), Failure::None, {}};
        asked = {{}, exchange.failure, describeFailure(exchange.failure, host, exchange.detail)};
        if (exchange.failure == Failure::Stopping)
            break;
    }
    if (asked.failure == Failure::None)
        asked = {{}, Failure::NoTimeLeft, describeFailure(Failure::NoTimeLeft, host)};
    co_return asked;
}

Task<HttpFetch> Hops::rdap(
    QString url, Upstream kind, const LookupRequest& request, LookupResult& result)
{
    const QUrl address(url);
    const QString host = address.host().toLower();
    const quint16 port
        = quint16(address.port(address.scheme() == QLatin1String("https") ? 443 : 80));
    const Reach reached = co_await reach(host, port, false, request);
    if (reached.failure != Failure::None)
        co_return HttpFetch {
            0, {}, {}, reached.failure, describeFailure(reached.failure, host, reached.detail)};
    const Turns::Taken taken = co_await m_turns.take(host, kind, request.client, request.deadline);
    if (const Failure refused = failureOf(taken.verdict); refused != Failure::None) {
        result.ownLimit = isOwnFailure(refused) && refused != Failure::Stopping;
        const bool limited = refused == Failure::OwnLimit || refused == Failure::HeldOff;
        co_return HttpFetch {limited ? 429 : 0, {}, {}, refused, describeFailure(refused, host)};
    }
    result.asked << url;
    FetchRequest fetch {url, {m_settings.allowLoopback, m_settings.allowLoopback, false, false},
        kRdapJson, hopLimit(request), {}};
    for (const Endpoint& endpoint : reached.endpoints)
        fetch.addresses.push_back(endpoint.address);
    HttpFetch fetched
        = co_await m_runtime.await<HttpFetch>([&](std::function<void(HttpFetch)> done) {
              m_runtime.network.fetch(std::move(fetch), std::move(done));
          });
    if (fetched.failure != Failure::None)
        fetched.detail = describeFailure(fetched.failure, host, fetched.detail);
    // A server's "too many requests" holds it off for as long as it asks.
    if (fetched.status == 429 || (fetched.status == 503 && fetched.retryAfter.count() > 0))
        m_turns.holdOff(host,
            fetched.retryAfter.count() > 0 ? fetched.retryAfter
                                           : limits::kHoldOffWithoutRetryAfter);
    co_return fetched;
}
