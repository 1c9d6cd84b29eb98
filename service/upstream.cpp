#include "upstream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

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
    // benchmarking, multicast, reserved and broadcast.
    static const QList<QPair<QHostAddress, int>> refused = [] {
        QList<QPair<QHostAddress, int>> nets;
        for (const char* net : {"0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "169.254.0.0/16",
                 "172.16.0.0/12", "192.0.0.0/24", "192.168.0.0/16", "198.18.0.0/15", "224.0.0.0/3",
                 "::/128", "fc00::/7", "fe80::/10", "fec0::/10", "ff00::/8"})
            nets << QHostAddress::parseSubnet(QLatin1String(net));
        return nets;
    }();
    QHostAddress address = given;
    bool mapped = false;
    const quint32 v4 = given.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return allowLoopback && address.protocol() == QAbstractSocket::IPv4Protocol;
    for (const auto& [net, bits] : refused) {
        if (address.isInSubnet(net, bits))
            return false;
    }
    return true;
}

namespace {

// Waits until fd is ready for events, or the deadline; false on time-out, cancellation or error.
// Looks up every tenth of a second, so that a stopping service is not kept waiting.
bool waitFor(int fd, short events, Deadline deadline)
{
    pollfd p {fd, events, 0};
    for (;;) {
        if (deadline.passed())
            return false;
        const int rc = ::poll(&p, 1, int(deadline.left(milliseconds(100)).count()));
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

Exchange tcpExchange(const Endpoint& to, const QByteArray& query, Deadline lookup)
{
    const Deadline deadline {std::min(lookup.at, Clock::now() + kHopTimeout), lookup.lookup};
    sockaddr_storage address {};
    const socklen_t length = to.socketAddress(&address);
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {{}, QStringLiteral("socket: %1").arg(strerror(errno))};
    const auto closer = qScopeGuard([fd] { ::close(fd); });

    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 && errno != EINPROGRESS)
        return {{}, QStringLiteral("connect: %1").arg(strerror(errno))};
    int error = 0;
    socklen_t size = sizeof error;
    if (!waitFor(fd, POLLOUT, deadline))
        return {{}, QStringLiteral("connect: timed out")};
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return {{}, QStringLiteral("connect: %1").arg(strerror(error))};

    for (qsizetype sent = 0; sent < query.size();) {
        if (!waitFor(fd, POLLOUT, deadline))
            return {{}, QStringLiteral("send: timed out")};
        const ssize_t n
            = ::send(fd, query.constData() + sent, size_t(query.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return {{}, QStringLiteral("send: %1").arg(strerror(errno))};
        sent += std::max<ssize_t>(n, 0);
    }

    Exchange exchange;
    char buffer[16384];
    for (;;) {
        if (!waitFor(fd, POLLIN, deadline))
            return {
                {}, QStringLiteral("answer: timed out after %1 bytes").arg(exchange.answer.size())};
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return exchange;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return {{}, QStringLiteral("answer: %1").arg(strerror(errno))};
        }
        if (exchange.answer.size() + n > kMaxAnswerBytes)
            return {{}, QStringLiteral("answer: over %1 bytes").arg(kMaxAnswerBytes)};
        exchange.answer.append(buffer, n);
    }
}

namespace {

std::atomic<quint64> g_opened {0};

// Runs every HTTP transfer of the process on one libcurl multi handle, on a thread of its own:
// connections, DNS answers and TLS sessions are then kept between look-ups, at most
// kKeptConnections of them, and all closed once nothing has been fetched for kKeptConnectionIdle.
// The caller's thread waits for its transfer; a cancelled look-up's transfer ends at once.
class TransferLoop
{
public:
    static TransferLoop& instance()
    {
        static TransferLoop loop;
        return loop;
    }

    CURLcode perform(CURL* easy, const Deadline& deadline)
    {
        Pending pending {easy, deadline};
        std::unique_lock lock(m_mutex);
        m_incoming.push_back(&pending);
        curl_multi_wakeup(m_multi);
        m_finished.wait(lock, [&] { return pending.done; });
        return pending.code;
    }

private:
    struct Pending
    {
        CURL* easy;
        Deadline deadline;
        bool done = false;
        CURLcode code = CURLE_OK;
    };

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

    void finish(std::vector<Pending*>& active, Pending* pending, CURLcode code)
    {
        curl_multi_remove_handle(m_multi, pending->easy);
        active.erase(std::find(active.begin(), active.end(), pending));
        const std::lock_guard lock(m_mutex);
        pending->code = code;
        pending->done = true;
        m_finished.notify_all();
    }

    void run()
    {
        std::vector<Pending*> active;
        Clock::time_point lastUsed = Clock::now();
        bool kept = false; // connections may be open
        for (;;) {
            {
                const std::lock_guard lock(m_mutex);
                if (m_stopping && active.empty())
                    break;
                for (Pending* pending : m_incoming) {
                    curl_easy_setopt(pending->easy, CURLOPT_SHARE, m_share);
                    curl_easy_setopt(pending->easy, CURLOPT_PRIVATE, pending);
                    curl_multi_add_handle(m_multi, pending->easy);
                    active.push_back(pending);
                    kept = true;
                }
                m_incoming.clear();
            }
            int running = 0;
            curl_multi_perform(m_multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                Pending* pending = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &pending);
                finish(active, pending, message->data.result);
            }
            for (size_t i = active.size(); i-- > 0;) {
                if (active[i]->deadline.lookup && active[i]->deadline.lookup->cancelled())
                    finish(active, active[i], CURLE_ABORTED_BY_CALLBACK);
            }
            if (!active.empty()) {
                lastUsed = Clock::now();
            } else if (kept && Clock::now() - lastUsed >= kKeptConnectionIdle) {
                const std::lock_guard lock(m_mutex); // perform() wakes the handle up
                curl_multi_cleanup(m_multi); // closes every kept connection
                m_multi = newMulti();
                kept = false;
            }
            const auto wait
                = active.empty() ? (kept ? kKeptConnectionIdle : hours(1)) : milliseconds(100);
            curl_multi_poll(
                m_multi, nullptr, 0, int(duration_cast<milliseconds>(wait).count()), nullptr);
        }
    }

    CURLSH* m_share = nullptr;
    CURLM* m_multi = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::vector<Pending*> m_incoming;
    bool m_stopping = false;
    std::thread m_thread;
};

struct Transfer
{
    const FetchRules* rules;
    HttpFetch* fetch;
    bool refused = false;
    bool tooLong = false;
};

curl_socket_t openChecked(void* context, curlsocktype, curl_sockaddr* address)
{
    auto* transfer = static_cast<Transfer*>(context);
    const QHostAddress to(&address->addr);
    if (!transfer->rules->operatorsChoice && !mayConnect(to, transfer->rules->allowLoopback)) {
        transfer->refused = true;
        transfer->fetch->error = QStringLiteral("refused address ") + to.toString();
        return CURL_SOCKET_BAD;
    }
    g_opened.fetch_add(1, std::memory_order_relaxed);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

size_t collectBody(char* data, size_t size, size_t count, void* context)
{
    auto* transfer = static_cast<Transfer*>(context);
    if (transfer->fetch->body.size() + qsizetype(size * count) > kMaxAnswerBytes) {
        transfer->tooLong = true;
        return 0;
    }
    transfer->fetch->body.append(data, qsizetype(size * count));
    return size * count;
}

size_t readHeader(char* data, size_t size, size_t count, void* context)
{
    auto* transfer = static_cast<Transfer*>(context);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) // a new answer after a redirect
        transfer->fetch->retryAfter = seconds(0);
    if (!line.toLower().startsWith("retry-after:"))
        return size * count;
    // Seconds, or an HTTP-date (RFC 9110), which curl_getdate reads in all three of its forms.
    const QByteArray value = line.mid(12).trimmed();
    const qint64 longest = kLongestHoldOff.count();
    bool number = false;
    const qint64 delay = value.toLongLong(&number);
    if (number) {
        transfer->fetch->retryAfter = seconds(std::clamp<qint64>(delay, 0, longest));
    } else {
        const time_t at = curl_getdate(value.constData(), nullptr);
        if (at != -1)
            transfer->fetch->retryAfter
                = seconds(std::clamp<qint64>(qint64(at) - qint64(std::time(nullptr)), 0, longest));
    }
    return size * count;
}

} // namespace

HttpFetch httpGet(const QString& url, Deadline lookup, const FetchRules& rules, const char* accept)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    HttpFetch fetch;
    if (!initialised)
        return {0, {}, {}, QStringLiteral("libcurl unavailable")};
    const long timeout = long(std::min(lookup.left(), kHopTimeout).count());
    if (timeout <= 0)
        return {0, {}, {}, QStringLiteral("no time left")};
    Transfer transfer {&rules, &fetch};
    CURL* curl = curl_easy_init();
    const auto cleanup = qScopeGuard([curl] { curl_easy_cleanup(curl); });
    const QByteArray address = QUrl(url).toEncoded();
    const char* protocols = rules.allowPlainHttp ? "http,https" : "https";
    const QByteArray acceptHeader = QByteArray("Accept: ") + accept;
    curl_slist* headers = curl_slist_append(nullptr, acceptHeader.constData());
    const auto freeHeaders = qScopeGuard([headers] { curl_slist_free_all(headers); });
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "domain-whois-service/1.0");
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxAnswerBytes));
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, openChecked);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, long(kKeptConnectionIdle.count()));
    const CURLcode code = TransferLoop::instance().perform(curl, lookup);
    if (transfer.tooLong || code == CURLE_FILESIZE_EXCEEDED)
        return {0, {}, {}, QStringLiteral("answer over %1 bytes").arg(kMaxAnswerBytes)};
    if (code != CURLE_OK) {
        if (!transfer.refused)
            fetch.error = QString::fromUtf8(*detail ? detail : curl_easy_strerror(code));
        fetch.status = 0;
        fetch.body.clear();
        return fetch;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &fetch.status);
    return fetch;
}

quint64 httpConnectionsOpened()
{
    return g_opened.load(std::memory_order_relaxed);
}
