#pragma once

#include <optional>
#include <vector>

#include "service/lookup/lookup.h"
#include "service/lookup/runtime.h"
#include "service/lookup/task.h"
#include "service/lookup/turns.h"
#include "service/reading/record.h"

// Where the upstreams are, and how the service may reach them.
struct RegistrySettings
{
    // Where TLDs' whois servers are asked for; the operator's choice, so never refused.
    QString ianaHost = QStringLiteral("whois.iana.org");
    quint16 ianaPort = 43;
    // Tests only: upstreams in 127.0.0.0/8 may be reached.
    bool allowLoopback = false;
    Allowances perMinute; // queries a minute to each upstream server, by its kind
    // Tests only: where a host name leads instead of where DNS says; none: DNS decides.
    std::function<std::optional<std::vector<Endpoint>>(const QString& host, quint16 port)> hosts;
    // The service's clock: a steady one, or in tests one set ahead.
    std::function<Clock::time_point()> now = Clock::now;
};

// What a whois server said, or why it said nothing.
struct WhoisAsked
{
    QByteArray answer;
    Failure failure = Failure::None;
    QString detail; // for the log, the server named
};

// One hop of a look-up to one upstream server, as straight-line code: its name resolved (before
// any turn is taken, within the hop's limit), its addresses checked against the address policy,
// a turn taken at the server, the query sent, the answer read. The turn is given back as soon as
// the answer is in, on every path.
class Hops
{
public:
    Hops(RegistrySettings settings, Runtime runtime);

    // A whois query (RFC 3912) to host; each of its addresses in turn while time is left.
    Task<WhoisAsked> whois(QString host, quint16 port, QByteArray query, bool operatorsChoice,
        Upstream kind, const LookupRequest& request, LookupResult& result);
    // An RDAP GET of url; a 429 (or a 503 with Retry-After) holds the server off.
    Task<HttpFetch> rdap(
        QString url, Upstream kind, const LookupRequest& request, LookupResult& result);

    const RegistrySettings& settings() const { return m_settings; }
    Runtime& runtime() { return m_runtime; }
    Turns& turns() { return m_turns; }
    // What is left of the look-up's time for one hop.
    std::chrono::milliseconds hopLimit(const LookupRequest& request) const;

private:
    struct Reach
    {
        std::vector<Endpoint> endpoints;
        Failure failure = Failure::None;
        QString detail;
    };
    // The endpoints of host that the address policy lets the service reach.
    Task<Reach> reach(
        QString host, quint16 port, bool operatorsChoice, const LookupRequest& request);

    const RegistrySettings m_settings;
    Runtime m_runtime;
    Turns m_turns;
};

// Sets result to a failure of the service's or an upstream's, for the log and the page.
void fail(LookupResult& result, Outcome outcome, Failure failure, const QString& where,
    const QString& detail = {});
