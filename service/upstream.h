#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include <QByteArray>
#include <QHostAddress>
#include <QString>

using Clock = std::chrono::steady_clock;

// The time a whole look-up may take, handed down to every hop.
struct Deadline
{
    Clock::time_point at;

    static Deadline in(std::chrono::milliseconds budget) { return {Clock::now() + budget}; }
    bool passed() const { return Clock::now() >= at; }
    // What is left, at most cap.
    std::chrono::milliseconds left(std::chrono::milliseconds cap = std::chrono::hours(1)) const;
};

struct sockaddr_storage;

struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;

    // The endpoint as the socket calls take it; returns its length.
    unsigned socketAddress(sockaddr_storage* into) const;
};

// Host name and port to addresses. The system resolver unless a test maps names itself.
using Resolver = std::function<std::vector<Endpoint>(const QString& host, quint16 port, Deadline)>;
std::vector<Endpoint> systemResolve(const QString& host, quint16 port, Deadline deadline);

// Whether the service may connect to an address a third party named: never loopback (but for
// 127.0.0.0/8 in tests), private, link-local, documentation, multicast, broadcast or unspecified
// ones, nor IPv6 translations of IPv4 addresses, nor this machine's own addresses.
bool mayConnect(const QHostAddress& address, bool allowLoopback);

// Every upstream answer is read up to this much; a longer one is a failed look-up.
constexpr qsizetype kMaxAnswerBytes = 1024 * 1024;
// No single hop may take more than this, whatever the look-up has left.
constexpr std::chrono::milliseconds kHopTimeout {6000};
// A hop is not begun with less time than this left: its answer could not arrive, and the query
// would only spend the server's patience.
constexpr std::chrono::milliseconds kShortestHop {500};

struct Exchange
{
    QByteArray answer;
    QString error; // empty when the answer is whole
};

// Sends query over TCP and reads the answer until the server closes (RFC 3912), within the
// deadline and kMaxAnswerBytes.
Exchange tcpExchange(const Endpoint& to, const QByteArray& query, Deadline deadline);

struct HttpFetch
{
    long status = 0;
    QByteArray body;
    std::chrono::seconds retryAfter {0}; // from a 429 or 503 answer's Retry-After
    QString error; // empty when an answer came, whatever its status
};

struct FetchRules
{
    bool allowLoopback = false; // tests only
    bool allowPlainHttp = false; // https alone, but in tests and for the operator's own addresses
    bool operatorsChoice = false; // the address was given by the operator: not filtered
    bool httpsRedirectsOnly = false; // redirects followed to https addresses alone
};

// An HTTP GET of an upstream's JSON with libcurl: certificates checked, at most three redirects,
// every address checked by mayConnect() before connecting, within the deadline, kHopTimeout and
// kMaxAnswerBytes.
HttpFetch httpGet(
    const QString& url, Deadline deadline, const FetchRules& rules, const char* accept);
