#pragma once

// Every bound the service keeps, in one place. The service faces the open internet: each of these
// is what stops one client or one upstream from taking more than its share.

#include <chrono>

#include <QtGlobal>

namespace limits {

using namespace std::chrono_literals;

// --- a look-up ---------------------------------------------------------------------------------
// A whole look-up, from the first asking client to its page.
inline constexpr std::chrono::milliseconds kLookupBudget = 12s;
// No single hop (a resolution, a query, a fetch with its redirects) takes longer than this,
// whatever the look-up has left.
inline constexpr std::chrono::milliseconds kHopTimeout = 6s;
// A query is not begun with less time than this left: its answer could not arrive, and asking
// would only spend the server's patience.
inline constexpr std::chrono::milliseconds kShortestHop = 500ms;
// Look-ups under way at once, waiting included; beyond it a new one is told "limited" at once.
inline constexpr int kMostLookups = 4000;
// Threads that run look-ups; they only compute, waits hold none.
inline constexpr int kWorkers = 4;
// Look-ups waiting for a worker to begin; beyond it, "limited".
inline constexpr int kWorkerQueue = 1000;

// --- upstreams ---------------------------------------------------------------------------------
// Every upstream answer is read up to this much; a longer one is a failed hop.
inline constexpr qsizetype kMaxAnswerBytes = 1024 * 1024;
// Redirects followed by one HTTP fetch.
inline constexpr long kMostRedirects = 3;
// A registrar link longer than this is no link a registry means.
inline constexpr qsizetype kLongestLink = 2048;
// Look-ups waiting for one server's turn; more are told "limited".
inline constexpr int kMostWaitingPerServer = 64;
// However long a server asks to be left alone, it is asked again after this.
inline constexpr std::chrono::seconds kLongestHoldOff = 1h;
// A "too many requests" without Retry-After holds the server off this long.
inline constexpr std::chrono::seconds kHoldOffWithoutRetryAfter = 60s;
// Kept HTTP connections to upstreams: at most this many, each closed once idle this long.
inline constexpr long kKeptConnections = 64;
inline constexpr std::chrono::seconds kKeptConnectionIdle = 60s;
// Host names whose addresses are kept, and for how long at most (less when DNS says so).
inline constexpr int kKeptNames = 4096;
inline constexpr std::chrono::seconds kLongestNameLife = 5min;
// Servers whose politeness state is kept; idle ones beyond it are forgotten.
inline constexpr int kKeptServers = 4096;

// --- IANA and the RDAP bootstrap ---------------------------------------------------------------
inline constexpr std::chrono::hours kTldServerLife {24};
// IANA's answer made no sense: kept as briefly as a failed page.
inline constexpr std::chrono::seconds kIanaFailureLife = 30s;
inline constexpr std::chrono::hours kBootstrapLife {24};
inline constexpr std::chrono::minutes kBootstrapRetry {10};
inline constexpr std::chrono::seconds kBootstrapFetchTime = 20s;

// --- clients -----------------------------------------------------------------------------------
// The longest query text taken, in octets after percent-decoding: a whole domain name's length.
inline constexpr qsizetype kMaxQueryOctets = 253;
// Connections open at once; more wait in the listen queue.
inline constexpr unsigned kConnections = 4000;
// Open at once from one client (an IPv4 address, an IPv6 /64); once three quarters of all
// connections are taken, an eighth of it.
inline constexpr unsigned kConnectionsPerClient = 64;
// A connection that sends nothing for this long is closed.
inline constexpr unsigned kIdleSeconds = 30;
// To send a whole request, from connecting or from the previous answer, however steadily.
inline constexpr unsigned kRequestSeconds = 10;
// Request line and headers together.
inline constexpr size_t kRequestBytes = 16 * 1024;
// HTTP event loops; look-ups never run on them.
inline constexpr unsigned kHttpThreads = 2;

// --- reading answers ---------------------------------------------------------------------------
// A domain has a handful of name servers; an answer listing thousands is not believed.
inline constexpr qsizetype kMostNameServers = 16;
// And a handful of status codes.
inline constexpr qsizetype kMostStatuses = 16;

// --- pages -------------------------------------------------------------------------------------
// What the kept pages may take by default, counted in page and name bytes.
inline constexpr qint64 kDefaultCacheBytes = 64 * 1024 * 1024;
// A shown value: plenty for any name or address, and no registry gets to fill a page with more.
inline constexpr qsizetype kLongestShownValue = 256;
// How long pages stay fresh, here and in any cache downstream.
inline constexpr std::chrono::seconds kRegisteredLife = 15min;
inline constexpr std::chrono::seconds kNotRegisteredLife = 5min;
inline constexpr std::chrono::seconds kNotADomainLife = 1h;
inline constexpr std::chrono::seconds kFailureLife = 30s;
// A failure of the service's own making: not kept, and downstream told to come back soon.
inline constexpr std::chrono::seconds kOwnFailureLife = 5s;

} // namespace limits
