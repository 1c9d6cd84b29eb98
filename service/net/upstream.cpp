#include "upstream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include <QDateTime>
#include <QNetworkInterface>
#include <QScopeGuard>
#include <QUrl>

#include <curl/curl.h>

using namespace std::chrono;

unsigned Endpoint::socketAddress(sockaddr_storage* into) const
{
    *into = {};
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(into);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, &bytes, sizeof bytes);
        return sizeof *v6;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(into);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    v4->sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof *v4;
}

milliseconds Deadline::left(milliseconds cap) const
{
    return std::clamp(duration_cast<milliseconds>(at - Clock::now()), milliseconds(0), cap);
}

std::vector<Endpoint> systemResolve(const QString& host, quint16 port, Deadline deadline)
{
    // getaddrinfo cannot be told a time-out: it runs on a thread of its own, which is left to
    // finish alone when the deadline passes first.
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::vector<Endpoint> found;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, name = host.toUtf8(), port] {
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        std::vector<Endpoint> found;
        if (getaddrinfo(name.constData(), nullptr, &hints, &list) == 0) {
            for (addrinfo* ai = list; ai; ai = ai->ai_next)
                found.push_back({QHostAddress(ai->ai_addr), port});
            freeaddrinfo(list);
        }
        const std::lock_guard lock(shared->mutex);
        shared->found = std::move(found);
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    while (!shared->finished && !deadline.passed()) // a cancelled look-up stops waiting
        shared->done.wait_for(lock, deadline.left(milliseconds(100)));
    return shared->found;
}

bool mayConnect(const QHostAddress& given, bool allowLoopback)
{
    // Networks no registry lives on: unspecified, private, shared, loopback, link-local,
    // documentation (the TEST-NETs), benchmarking, multicast, reserved and broadcast; and the
    // IPv6 ways to another IPv4 network (NAT64, 6to4, Teredo), which could lead anywhere.
    static const QList<QPair<QHostAddress, int>> refused = [] {
        QList<QPair<QHostAddress, int>> nets;
        for (const char* net : {"0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "169.254.0.0/16",
                 "172.16.0.0/12", "192.0.0.0/24", "192.0.2.0/24", "192.168.0.0/16", "198.18.0.0/15",
                 "198.51.100.0/24", "203.0.113.0/24", "224.0.0.0/3", "::/128", "64:ff9b::/96",
                 "64:ff9b:1::/48", "100::/64", "2001::/32", "2001:db8::/32", "2002::/16",
                 "::ffff:0:0:0/96", "fc00::/7", "fe80::/10", "fec0::/10", "ff00::/8"})
            nets << QHostAddress::parseSubnet(QLatin1String(net));
        return nets;
    }();
    // An IPv4 address in IPv6 clothing (mapped ::ffff:a.b.c.d, compatible ::a.b.c.d) is judged
    // as the IPv4 address it carries.
    QHostAddress address = given;
    address.setScopeId({});
    bool mapped = false;
    const quint32 v4 = given.toIPv4Address(&mapped);
    const Q_IPV6ADDR v6 = given.toIPv6Address();
    const bool compatible = given.protocol() == QAbstractSocket::IPv6Protocol
        && std::all_of(v6.c, v6.c + 12, [](quint8 b) { return b == 0; })
        && (v6[12] | v6[13] | v6[14] | (v6[15] & 0xfe)) != 0; // not :: or ::1
    if (mapped)
        address = QHostAddress(v4);
    else if (compatible)
        address = QHostAddress(
            quint32(v6[12]) << 24 | quint32(v6[13]) << 16 | quint32(v6[14]) << 8 | v6[15]);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return allowLoopback && given.protocol() == QAbstractSocket::IPv4Protocol;
    for (const auto& [net, bits] : refused) {
        if (address.isInSubnet(net, bits))
            return false;
    }
    // This machine's own public addresses: a referral to one would reach its local services.
    for (const QHostAddress& own : QNetworkInterface::allAddresses()) {
        if (own.isEqual(address, QHostAddress::TolerantConversion))
            return false;
    }
    return true;
}

namespace {

std::atomic<quint64> g_opened {0};

// One HTTP fetch under way: what libcurl writes into, and what to do once it is over.
struct Fetching
{
    FetchRules rules;
    Deadline deadline;
    std::function<void(HttpFetch)> done;
    HttpFetch fetch;
    bool refused = false;
    bool tooLong = false;
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    QByteArray address;
    char detail[CURL_ERROR_SIZE] = {};

    ~Fetching()
    {
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
    }
    HttpFetch conclude(CURLcode code)
    {
        if (tooLong || code == CURLE_FILESIZE_EXCEEDED)
            return {0, {}, {}, QStringLiteral("answer over %1 bytes").arg(kMaxAnswerBytes)};
        if (code != CURLE_OK) {
            if (!refused)
                fetch.error = QString::fromUtf8(*detail ? detail : curl_easy_strerror(code));
            fetch.status = 0;
            fetch.body.clear();
            return fetch;
        }
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &fetch.status);
        return fetch;
    }
};

// One whois exchange under way, on a non-blocking socket.
struct Talking
{
    Endpoint to;
    QByteArray query;
    Deadline deadline;
    std::function<void(Exchange)> done;
    int fd = -1;
    bool connected = false;
    qsizetype sent = 0;
    Exchange exchange;

    ~Talking()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Moves the exchange on as far as the socket allows; true once it is over, either way.
    bool step()
    {
        const auto fail = [this](const QString& why) {
            exchange = {{}, why};
            return true;
        };
        if (!connected) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                return fail(QStringLiteral("connect: %1").arg(strerror(error)));
            connected = true;
        }
        while (sent < query.size()) {
            const ssize_t n
                = ::send(fd, query.constData() + sent, size_t(query.size() - sent), MSG_NOSIGNAL);
            if (n < 0)
                return errno == EAGAIN || errno == EINTR
                    ? false
                    : fail(QStringLiteral("send: %1").arg(strerror(errno)));
            sent += n;
        }
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0)
                return true;
            if (n < 0)
                return errno == EAGAIN || errno == EINTR
                    ? false
                    : fail(QStringLiteral("answer: %1").arg(strerror(errno)));
            if (exchange.answer.size() + n > kMaxAnswerBytes)
                return fail(QStringLiteral("answer: over %1 bytes").arg(kMaxAnswerBytes));
            exchange.answer.append(buffer, n);
        }
    }
};

// Runs every HTTP transfer and every asynchronous whois exchange of the process on one thread:
// the transfers on one libcurl multi handle, so that connections, DNS answers and TLS sessions
// are kept between look-ups (at most kKeptConnections, all closed once nothing has been fetched
// for kKeptConnectionIdle), and the whois sockets polled beside them. A cancelled look-up's
// transfers end at once.
class TransferLoop
{
public:
    static TransferLoop& instance()
    {
        static TransferLoop loop;
        return loop;
    }

    void start(std::unique_ptr<Fetching> fetching)
    {
        const std::lock_guard lock(m_mutex);
        m_newFetches.push_back(std::move(fetching));
        curl_multi_wakeup(m_multi);
    }
    void start(std::unique_ptr<Talking> talking)
    {
        const std::lock_guard lock(m_mutex);
        m_newTalks.push_back(std::move(talking));
        curl_multi_wakeup(m_multi);
    }

private:
    TransferLoop()
    {
        m_share = curl_share_init();
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        m_multi = newMulti();
        m_thread = std::thread(&TransferLoop::run, this);
    }
    ~TransferLoop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
            curl_multi_wakeup(m_multi);
        }
        m_thread.join();
        curl_multi_cleanup(m_multi);
        curl_share_cleanup(m_share);
    }

    static CURLM* newMulti()
    {
        CURLM* multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kKeptConnections);
        return multi;
    }

    void endFetch(size_t i, CURLcode code)
    {
        std::unique_ptr<Fetching> fetching = std::move(m_fetches[i]);
        m_fetches.erase(m_fetches.begin() + std::ptrdiff_t(i));
        curl_multi_remove_handle(m_multi, fetching->curl);
        fetching->done(fetching->conclude(code));
    }
    void endTalk(size_t i, const QString& error = {})
    {
        std::unique_ptr<Talking> talking = std::move(m_talks[i]);
        m_talks.erase(m_talks.begin() + std::ptrdiff_t(i));
        if (!error.isEmpty())
            talking->exchange = {{}, error};
        talking->done(std::move(talking->exchange));
    }

    void admit()
    {
        const std::lock_guard lock(m_mutex);
        for (auto& fetching : m_newFetches) {
            curl_easy_setopt(fetching->curl, CURLOPT_SHARE, m_share);
            curl_easy_setopt(fetching->curl, CURLOPT_PRIVATE, fetching.get());
            curl_multi_add_handle(m_multi, fetching->curl);
            m_fetches.push_back(std::move(fetching));
            m_kept = true;
        }
        m_newFetches.clear();
        for (auto& talking : m_newTalks)
            m_talks.push_back(std::move(talking));
        m_newTalks.clear();
    }

    void run()
    {
        Clock::time_point lastUsed = Clock::now();
        std::vector<curl_waitfd> sockets;
        for (;;) {
            admit();
            {
                const std::lock_guard lock(m_mutex);
                if (m_stopping && m_fetches.empty() && m_talks.empty())
                    break;
            }
            int running = 0;
            curl_multi_perform(m_multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                Fetching* fetching = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &fetching);
                for (size_t i = 0; i < m_fetches.size(); ++i) {
                    if (m_fetches[i].get() == fetching) {
                        endFetch(i, message->data.result);
                        break;
                    }
                }
            }
            for (size_t i = m_fetches.size(); i-- > 0;) {
                if (m_fetches[i]->deadline.passed())
                    endFetch(i, CURLE_ABORTED_BY_CALLBACK);
            }
            // Whois: connect the new ones, move on those the last poll found ready, end the late.
            for (size_t i = m_talks.size(); i-- > 0;) {
                Talking& talking = *m_talks[i];
                if (talking.fd < 0) {
                    sockaddr_storage address {};
                    const socklen_t length = talking.to.socketAddress(&address);
                    talking.fd = ::socket(
                        address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                    if (talking.fd < 0
                        || (::connect(talking.fd, reinterpret_cast<sockaddr*>(&address), length)
                                != 0
                            && errno != EINPROGRESS)) {
                        endTalk(i, QStringLiteral("connect: %1").arg(strerror(errno)));
                        continue;
                    }
                    continue; // the last poll's findings are about other sockets
                }
                const auto ready = std::find_if(sockets.begin(), sockets.end(),
                    [&](const curl_waitfd& w) { return w.fd == talking.fd && w.revents != 0; });
                if (ready != sockets.end() && talking.step()) {
                    endTalk(i);
                } else if (talking.deadline.passed()) {
                    endTalk(i,
                        talking.connected ? QStringLiteral("answer: timed out after %1 bytes")
                                                .arg(talking.exchange.answer.size())
                                          : QStringLiteral("connect: timed out"));
                }
            }
            if (!m_fetches.empty() || !m_talks.empty()) {
                lastUsed = Clock::now();
            } else if (m_kept && Clock::now() - lastUsed >= kKeptConnectionIdle) {
                const std::lock_guard lock(m_mutex); // start() wakes the handle up
                curl_multi_cleanup(m_multi); // closes every kept connection
                m_multi = newMulti();
                m_kept = false;
            }
            sockets.clear();
            for (const auto& talking : m_talks) {
                const bool writing = !talking->connected || talking->sent < talking->query.size();
                sockets.push_back(
                    {talking->fd, short(writing ? CURL_WAIT_POLLOUT : CURL_WAIT_POLLIN), 0});
            }
            const bool busy = !m_fetches.empty() || !m_talks.empty();
            const auto wait = busy ? milliseconds(100) : m_kept ? kKeptConnectionIdle : hours(1);
            curl_multi_poll(m_multi, sockets.data(), unsigned(sockets.size()),
                int(duration_cast<milliseconds>(wait).count()), nullptr);
        }
    }

    CURLSH* m_share = nullptr;
    CURLM* m_multi = nullptr;
    bool m_kept = false; // connections may be open
    std::vector<std::unique_ptr<Fetching>> m_fetches; // the loop's own
    std::vector<std::unique_ptr<Talking>> m_talks;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Fetching>> m_newFetches;
    std::vector<std::unique_ptr<Talking>> m_newTalks;
    bool m_stopping = false;
    std::thread m_thread;
};

curl_socket_t openChecked(void* context, curlsocktype, curl_sockaddr* address)
{
    auto* fetching = static_cast<Fetching*>(context);
    const QHostAddress to(&address->addr);
    if (!fetching->rules.operatorsChoice && !mayConnect(to, fetching->rules.allowLoopback)) {
        fetching->refused = true;
        fetching->fetch.error = QStringLiteral("refused address ") + to.toString();
        return CURL_SOCKET_BAD;
    }
    g_opened.fetch_add(1, std::memory_order_relaxed);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

size_t collectBody(char* data, size_t size, size_t count, void* context)
{
    auto* fetching = static_cast<Fetching*>(context);
    if (fetching->fetch.body.size() + qsizetype(size * count) > kMaxAnswerBytes) {
        fetching->tooLong = true;
        return 0;
    }
    fetching->fetch.body.append(data, qsizetype(size * count));
    return size * count;
}

size_t readHeader(char* data, size_t size, size_t count, void* context)
{
    auto* fetching = static_cast<Fetching*>(context);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) // a new answer after a redirect
        fetching->fetch.retryAfter = seconds(0);
    if (!line.toLower().startsWith("retry-after:"))
        return size * count;
    // Seconds, or an HTTP-date (RFC 9110), which curl_getdate reads in all three of its forms.
    const QByteArray value = line.mid(12).trimmed();
    const qint64 longest = kLongestHoldOff.count();
    bool number = false;
    const qint64 delay = value.toLongLong(&number);
    if (number) {
        fetching->fetch.retryAfter = seconds(std::clamp<qint64>(delay, 0, longest));
    } else {
        const time_t at = curl_getdate(value.constData(), nullptr);
        if (at != -1)
            fetching->fetch.retryAfter
                = seconds(std::clamp<qint64>(qint64(at) - qint64(std::time(nullptr)), 0, longest));
    }
    return size * count;
}

} // namespace

void httpGetAsync(const QString& url, Deadline lookup, const FetchRules& rules, const char* accept,
    std::function<void(HttpFetch)> done)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!initialised)
        return done({0, {}, {}, QStringLiteral("libcurl unavailable")});
    const long timeout = long(std::min(lookup.left(), kHopTimeout).count());
    if (timeout <= 0)
        return done({0, {}, {}, QStringLiteral("no time left")});
    auto fetching = std::make_unique<Fetching>();
    fetching->rules = rules;
    fetching->deadline = lookup;
    fetching->done = std::move(done);
    fetching->address = QUrl(url).toEncoded();
    fetching->headers = curl_slist_append(nullptr, (QByteArray("Accept: ") + accept).constData());
    CURL* curl = fetching->curl;
    const char* protocols = rules.allowPlainHttp ? "http,https" : "https";
    curl_easy_setopt(curl, CURLOPT_URL, fetching->address.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(
        curl, CURLOPT_REDIR_PROTOCOLS_STR, rules.httpsRedirectsOnly ? "https" : protocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, fetching->headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "domain-whois-service/1.0");
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxAnswerBytes));
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, openChecked);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, fetching.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, fetching.get());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, fetching.get());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, fetching->detail);
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, long(kKeptConnectionIdle.count()));
    TransferLoop::instance().start(std::move(fetching));
}

HttpFetch httpGet(const QString& url, Deadline lookup, const FetchRules& rules, const char* accept)
{
    std::promise<HttpFetch> fetched;
    httpGetAsync(url, lookup, rules, accept,
        [&fetched](HttpFetch fetch) { fetched.set_value(std::move(fetch)); });
    return fetched.get_future().get();
}

Exchange tcpExchange(const Endpoint& to, const QByteArray& query, Deadline lookup)
{
    std::promise<Exchange> exchanged;
    tcpExchangeAsync(to, query, lookup,
        [&exchanged](Exchange exchange) { exchanged.set_value(std::move(exchange)); });
    return exchanged.get_future().get();
}

void tcpExchangeAsync(const Endpoint& to, const QByteArray& query, Deadline lookup,
    std::function<void(Exchange)> done)
{
    auto talking = std::make_unique<Talking>();
    talking->to = to;
    talking->query = query;
    talking->deadline = {std::min(lookup.at, Clock::now() + kHopTimeout), lookup.lookup};
    talking->done = std::move(done);
    TransferLoop::instance().start(std::move(talking));
}

quint64 httpConnectionsOpened()
{
    return g_opened.load(std::memory_order_relaxed);
}
