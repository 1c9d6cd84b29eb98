#include "upstream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
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
    shared->done.wait_until(lock, deadline.at, [&] { return shared->finished; });
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

// Waits until fd is ready for events, or the deadline; false on time-out or error.
bool waitFor(int fd, short events, Deadline deadline)
{
    pollfd p {fd, events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, int(deadline.left().count()));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

Exchange tcpExchange(const Endpoint& to, const QByteArray& query, Deadline lookup)
{
    const Deadline deadline {std::min(lookup.at, Clock::now() + kHopTimeout)};
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
    const QByteArray value = line.mid(12).trimmed();
    bool number = false;
    const long delay = value.toLong(&number);
    if (number) {
        transfer->fetch->retryAfter = seconds(std::clamp(delay, 0L, 86400L));
    } else {
        const QDateTime at = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
        if (at.isValid())
            transfer->fetch->retryAfter
                = seconds(std::clamp(QDateTime::currentDateTimeUtc().secsTo(at), 0LL, 86400LL));
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
    curl_easy_setopt(
        curl, CURLOPT_REDIR_PROTOCOLS_STR, rules.httpsRedirectsOnly ? "https" : protocols);
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
    const CURLcode code = curl_easy_perform(curl);
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
