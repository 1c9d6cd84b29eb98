#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include "service/failure.h"
#include "service/net/addresspolicy.h"

using Clock = std::chrono::steady_clock;

struct Resolved
{
    std::vector<QHostAddress> addresses;
    Failure failure = Failure::None; // NoAddress, Network (with detail) or Stopping
    QString detail;
};

struct FetchRules
{
    bool allowLoopback = false; // tests only
    bool allowPlainHttp = false; // https alone, but in tests and for the operator's own addresses
    bool operatorsChoice = false; // the address was given by the operator: not filtered
    bool httpsRedirectsOnly = false; // redirects followed to https addresses alone
};

struct FetchRequest
{
    QString url;
    FetchRules rules;
    QByteArray accept;
    std::chrono::milliseconds limit {0}; // the whole fetch, redirects and their names included
    // The addresses of the url's host, resolved and checked by the caller; none: resolved here.
    std::vector<QHostAddress> addresses;
};

struct HttpFetch
{
    long status = 0;
    QByteArray body;
    // From a 429 or 503 answer's Retry-After, at most a limit's worth.
    std::chrono::seconds retryAfter {0};
    Failure failure = Failure::None; // Network, RefusedAddress or Stopping when no answer came
    QString detail;
};

struct Exchange
{
    QByteArray answer;
    Failure failure = Failure::None; // Network or Stopping when the answer is not whole
    QString detail;
};

// What the look-ups ask of the network: names resolved, HTTP fetched, whois exchanged (RFC 3912:
// a query, then the answer until the server closes). Every operation calls done exactly once,
// from a thread of the network's own, or at once when it cannot begin; none ever waits for
// another, and none holds the caller's thread. Answers are cut at limits::kMaxAnswerBytes.
class Network
{
public:
    virtual ~Network() = default;

    virtual void resolve(
        const QString& host, std::chrono::milliseconds limit, std::function<void(Resolved)> done)
        = 0;
    virtual void fetch(FetchRequest request, std::function<void(HttpFetch)> done) = 0;
    virtual void exchange(const Endpoint& to, const QByteArray& query,
        std::chrono::milliseconds limit, std::function<void(Exchange)> done)
        = 0;
    // Ends what is under way at once, with Failure::Stopping, and everything asked after.
    virtual void stop() = 0;
};
