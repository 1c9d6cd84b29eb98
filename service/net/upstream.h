#pragma once

#include <any>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QHostAddress>
#include <QString>

using Clock = std::chrono::steady_clock;

// A look-up under way, as its hops see it: whom it is for, and what the upstreams have told it so
// far. A look-up that has to wait for a busy server gives its worker back and is run again from
// the start once the server is free; the answers it has heard are then replayed from here, so no
// server is asked twice. Run by one thread at a time.
class Lookup : public std::enable_shared_from_this<Lookup>
{
public:
    QString client; // the client address it is for; upstream allowances are shared out by it
    std::function<void()> resume; // runs it again, on a worker; empty: hops wait where they are
    std::shared_ptr<const std::atomic<bool>> stopping; // set when the service stops

    bool cancelled() const { return stopping && *stopping; }
    template <typename T> const T* heard(const QString& key) const
    {
        const auto found = m_heard.find(key);
        return found == m_heard.end() ? nullptr : std::any_cast<T>(&found->second);
    }
    template <typename T> void hear(const QString& key, T value)
    {
        m_heard[key] = std::move(value);
    }

private:
    std::map<QString, std::any> m_heard;
};

// Thrown by a hop whose look-up now waits in a server's queue: the run ends there, the worker
// goes back to the pool, and Lookup::resume runs the look-up again when its turn comes.
struct Parked
{
};

// The time a whole look-up may take, handed down to every hop, with the look-up itself.
struct Deadline
{
    Clock::time_point at;
    Lookup* lookup = nullptr; // none for the service's own fetches

    static Deadline in(std::chrono::milliseconds budget) { return {Clock::now() + budget}; }
    // Also once the service stops: a cancelled look-up has no time left.
    bool passed() const { return Clock::now() >= at || (lookup && lookup->cancelled()); }
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
// deadline and kMaxAnswerBytes; waits for the transfer thread to do it.
Exchange tcpExchange(const Endpoint& to, const QByteArray& query, Deadline deadline);
// The same on the transfer thread, holding no other: returns at once, and done runs there with
// the result.
void tcpExchangeAsync(const Endpoint& to, const QByteArray& query, Deadline deadline,
    std::function<void(Exchange)> done);

struct HttpFetch
{
    long status = 0;
    QByteArray body;
    std::chrono::seconds retryAfter {
        0}; // from a 429 or 503 answer's Retry-After, at most kLongestHoldOff
    QString error; // empty when an answer came, whatever its status
};

// However long a server asks to be left alone, it is asked again after this.
constexpr std::chrono::seconds kLongestHoldOff {3600};
// Kept HTTP connections to upstreams: at most this many, each closed once idle this long.
constexpr long kKeptConnections = 64;
constexpr std::chrono::seconds kKeptConnectionIdle {60};

struct FetchRules
{
    bool allowLoopback = false; // tests only
    bool allowPlainHttp = false; // https alone, but in tests and for the operator's own addresses
    bool operatorsChoice = false; // the address was given by the operator: not filtered
    bool httpsRedirectsOnly = false; // redirects followed to https addresses alone
};

// An HTTP GET of an upstream's JSON with libcurl: certificates checked, at most three redirects,
// every address checked by mayConnect() before connecting, within the deadline, kHopTimeout and
// kMaxAnswerBytes. Every fetch runs on one libcurl multi handle, so connections, DNS answers and
// TLS sessions are kept between look-ups.
HttpFetch httpGet(
    const QString& url, Deadline deadline, const FetchRules& rules, const char* accept);
// The same, returning at once: done runs on the transfer thread with the result.
void httpGetAsync(const QString& url, Deadline deadline, const FetchRules& rules,
    const char* accept, std::function<void(HttpFetch)> done);
// HTTP connections opened to upstreams since start, for the benchmark.
quint64 httpConnectionsOpened();
