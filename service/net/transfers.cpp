#include "transfers.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include <QUrl>

#include <ares.h>
#include <curl/curl.h>

#include "service/limits.h"

using namespace std::chrono;

namespace {

milliseconds until(Clock::time_point at)
{
    return std::max(duration_cast<milliseconds>(at - Clock::now()), milliseconds(0));
}

// One HTTP fetch under way, through its redirects: first its host's addresses, then libcurl.
struct Fetching
{
    FetchRequest request;
    std::function<void(HttpFetch)> done;
    Clock::time_point deadline;
    QUrl url;
    long redirects = 0;
    bool over = false;
    // the transfer under way, once the addresses are known
    CURL* curl = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* resolve = nullptr;
    QByteArray address;
    HttpFetch fetch;
    bool refused = false;
    bool tooLong = false;
    char detail[CURL_ERROR_SIZE] = {};
    std::atomic<quint64>* opened = nullptr;

    ~Fetching() { release(); }
    void release()
    {
        curl_slist_free_all(headers);
        curl_slist_free_all(resolve);
        curl_easy_cleanup(curl);
        curl = nullptr;
        headers = resolve = nullptr;
    }
};

// One whois exchange under way, on a non-blocking socket.
struct Talking
{
    Endpoint to;
    QByteArray query;
    Clock::time_point deadline;
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
    bool writing() const { return !connected || sent < query.size(); }
    // Moves the exchange on as far as the socket allows; true once it is over, either way.
    bool step()
    {
        const auto fail = [this](const QString& why) {
            exchange = {{}, Failure::Network, why};
            return true;
        };
        if (!connected) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                return fail(
                    QStringLiteral("connect: %1").arg(QString::fromLocal8Bit(strerror(error))));
            connected = true;
        }
        while (sent < query.size()) {
            const ssize_t n
                = ::send(fd, query.constData() + sent, size_t(query.size() - sent), MSG_NOSIGNAL);
            if (n < 0)
                return errno == EAGAIN || errno == EINTR
                    ? false
                    : fail(QStringLiteral("send: %1").arg(QString::fromLocal8Bit(strerror(errno))));
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
                    : fail(
                        QStringLiteral("answer: %1").arg(QString::fromLocal8Bit(strerror(errno))));
            if (exchange.answer.size() + n > limits::kMaxAnswerBytes)
                return fail(QStringLiteral("answer over %1 bytes").arg(limits::kMaxAnswerBytes));
            exchange.answer.append(buffer, n);
        }
    }
};

curl_socket_t openChecked(void* context, curlsocktype, curl_sockaddr* address)
{
    auto* fetching = static_cast<Fetching*>(context);
    const QHostAddress to(&address->addr);
    const FetchRules& rules = fetching->request.rules;
    if (!rules.operatorsChoice && !mayConnect(to, rules.allowLoopback)) {
        fetching->refused = true;
        fetching->fetch.failure = Failure::RefusedAddress;
        fetching->fetch.detail = to.toString();
        return CURL_SOCKET_BAD;
    }
    fetching->opened->fetch_add(1, std::memory_order_relaxed);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

size_t collectBody(char* data, size_t size, size_t count, void* context)
{
    auto* fetching = static_cast<Fetching*>(context);
    if (fetching->fetch.body.size() + qsizetype(size * count) > limits::kMaxAnswerBytes) {
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
    if (!line.toLower().startsWith("retry-after:"))
        return size * count;
    // Seconds, or an HTTP-date (RFC 9110), which curl_getdate reads in all three of its forms.
    const QByteArray value = line.mid(12).trimmed();
    const qint64 longest = limits::kLongestHoldOff.count();
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

bool schemeAllowed(const QUrl& url, const FetchRules& rules, bool redirected)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    return scheme == QLatin1String("http") && rules.allowPlainHttp
        && !(redirected && rules.httpsRedirectsOnly);
}

} // namespace

struct Transfers::Loop
{
    // A name being resolved, or known: those waiting for it, and what DNS said.
    struct NameWaiter
    {
        Clock::time_point deadline;
        std::function<void(Resolved)> done;
    };
    struct Name
    {
        std::vector<QHostAddress> addresses;
        Clock::time_point until {};
        bool asking = false;
        std::vector<NameWaiter> waiting;
    };
    struct Asking
    {
        Loop* loop;
        QString host;
    };

    explicit Loop(const Settings& settings)
    {
        share = curl_share_init();
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        multi = newMulti();
        ares_options options {};
        options.timeout = 2000; // ms a try; the hop's limit ends the wait before that
        options.tries = 2;
        ares_init_options(&channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES);
        if (!settings.dnsServers.isEmpty())
            ares_set_servers_ports_csv(channel, settings.dnsServers.toLatin1().constData());
    }
    ~Loop()
    {
        ares_destroy(channel);
        curl_multi_cleanup(multi);
        curl_share_cleanup(share);
    }

    static CURLM* newMulti()
    {
        CURLM* made = curl_multi_init();
        curl_multi_setopt(made, CURLMOPT_MAXCONNECTS, limits::kKeptConnections);
        return made;
    }

    // --- names ---------------------------------------------------------------------------------
    void resolveName(
        const QString& host, Clock::time_point deadline, std::function<void(Resolved)> done)
    {
        Name& name = names[host];
        if (!name.addresses.empty() && Clock::now() < name.until)
            return done({name.addresses, Failure::None, {}});
        name.waiting.push_back({deadline, std::move(done)});
        if (name.asking)
            return;
        name.asking = true;
        ares_addrinfo_hints hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        ares_getaddrinfo(channel, host.toUtf8().constData(), nullptr, &hints, &Loop::resolved,
            new Asking {this, host});
    }
    static void resolved(void* context, int status, int, ares_addrinfo* info)
    {
        const std::unique_ptr<Asking> asking(static_cast<Asking*>(context));
        if (status == ARES_EDESTRUCTION)
            return;
        Loop& loop = *asking->loop;
        Name& name = loop.names[asking->host];
        name.asking = false;
        Resolved result;
        int ttl = int(limits::kLongestNameLife.count());
        if (status == ARES_SUCCESS && info) {
            for (ares_addrinfo_node* node = info->nodes; node; node = node->ai_next) {
                const QHostAddress address(node->ai_addr);
                if (!address.isNull()
                    && std::find(result.addresses.begin(), result.addresses.end(), address)
                        == result.addresses.end())
                    result.addresses.push_back(address);
                ttl = std::min(ttl, std::max(node->ai_ttl, 0));
            }
        }
        if (info)
            ares_freeaddrinfo(info);
        if (result.addresses.empty()) {
            result.failure
                = status == ARES_SUCCESS || status == ARES_ENOTFOUND || status == ARES_ENODATA
                ? Failure::NoAddress
                : Failure::Network;
            result.detail = QString::fromLatin1(ares_strerror(status));
        } else {
            name.addresses = result.addresses;
            name.until = Clock::now() + seconds(ttl);
        }
        std::vector<NameWaiter> waiting;
        waiting.swap(name.waiting);
        for (NameWaiter& waiter : waiting)
            waiter.done(result);
        loop.forgetNames();
    }
    void expireNames()
    {
        const Clock::time_point now = Clock::now();
        for (auto& [host, name] : names) {
            auto& waiting = name.waiting;
            for (auto it = waiting.begin(); it != waiting.end();) {
                if (it->deadline > now) {
                    ++it;
                    continue;
                }
                const auto done = std::move(it->done);
                it = waiting.erase(it);
                done({{}, Failure::Network, QStringLiteral("name not resolved in time")});
            }
        }
    }
    // Bounded: what is stale goes first, then everything nobody waits for.
    void forgetNames()
    {
        if (int(names.size()) <= limits::kKeptNames)
            return;
        const Clock::time_point now = Clock::now();
        for (const bool all : {false, true}) {
            for (auto it = names.begin(); it != names.end();) {
                const bool idle = !it->second.asking && it->second.waiting.empty();
                it = idle && (all || it->second.until <= now) ? names.erase(it) : std::next(it);
            }
            if (int(names.size()) <= limits::kKeptNames)
                return;
        }
    }

    // --- HTTP ----------------------------------------------------------------------------------
    void beginFetch(const std::shared_ptr<Fetching>& fetching)
    {
        if (!schemeAllowed(fetching->url, fetching->request.rules, fetching->redirects > 0))
            return endFetch(fetching,
                {0, {}, {}, Failure::Network,
                    QStringLiteral("scheme refused: ") + fetching->url.scheme()});
        // The caller's addresses are checked already; those found here, after a redirect or for
        // an address in the URL, are checked now.
        if (fetching->redirects == 0 && !fetching->request.addresses.empty())
            return transfer(fetching, fetching->request.addresses);
        const QString host = fetching->url.host();
        if (const QHostAddress literal(host); !literal.isNull())
            return checkAndTransfer(fetching, {literal});
        resolveName(host, fetching->deadline, [this, fetching](const Resolved& resolved) {
            if (fetching->over)
                return;
            if (resolved.failure != Failure::None)
                return endFetch(fetching,
                    {0, {}, {}, resolved.failure, fetching->url.host() + u' ' + resolved.detail});
            checkAndTransfer(fetching, resolved.addresses);
        });
    }
    void checkAndTransfer(
        const std::shared_ptr<Fetching>& fetching, std::vector<QHostAddress> addresses)
    {
        const FetchRules& rules = fetching->request.rules;
        QString refused;
        if (!rules.operatorsChoice) {
            const auto kept = std::remove_if(
                addresses.begin(), addresses.end(), [&](const QHostAddress& address) {
                    const bool no = !mayConnect(address, rules.allowLoopback);
                    if (no)
                        refused = address.toString();
                    return no;
                });
            addresses.erase(kept, addresses.end());
        }
        if (addresses.empty())
            return endFetch(fetching,
                {0, {}, {}, refused.isEmpty() ? Failure::NoAddress : Failure::RefusedAddress,
                    refused});
        transfer(fetching, addresses);
    }
    void transfer(
        const std::shared_ptr<Fetching>& fetching, const std::vector<QHostAddress>& addresses)
    {
        const FetchRules& rules = fetching->request.rules;
        const long timeout = long(until(fetching->deadline).count());
        if (timeout <= 0)
            return endFetch(fetching, {0, {}, {}, Failure::Network, QStringLiteral("timed out")});
        Fetching& f = *fetching;
        f.release();
        f.fetch = {};
        f.refused = f.tooLong = false;
        f.curl = curl_easy_init();
        f.address = f.url.toEncoded();
        f.headers = curl_slist_append(nullptr, ("Accept: " + f.request.accept).constData());
        const QString host = f.url.host();
        if (QHostAddress(host).isNull()) {
            // The addresses found here, so that libcurl resolves nothing itself.
            QStringList literals;
            for (const QHostAddress& address : addresses)
                literals << (address.protocol() == QAbstractSocket::IPv6Protocol
                        ? u'[' + address.toString() + u']'
                        : address.toString());
            const int port = f.url.port(f.url.scheme() == QLatin1String("https") ? 443 : 80);
            f.resolve = curl_slist_append(nullptr,
                QStringLiteral("%1:%2:%3")
                    .arg(host)
                    .arg(port)
                    .arg(literals.join(u','))
                    .toUtf8()
                    .constData());
        }
        CURL* curl = f.curl;
        curl_easy_setopt(curl, CURLOPT_URL, f.address.constData());
        curl_easy_setopt(
            curl, CURLOPT_PROTOCOLS_STR, rules.allowPlainHttp ? "http,https" : "https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L); // followed here, each name by c-ares
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, f.headers);
        curl_easy_setopt(curl, CURLOPT_RESOLVE, f.resolve);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, "domain-whois-service/1.0");
        curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits::kMaxAnswerBytes));
        curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, openChecked);
        curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &f);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &f);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, readHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &f);
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, f.detail);
        curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, long(limits::kKeptConnectionIdle.count()));
        curl_easy_setopt(curl, CURLOPT_SHARE, share);
        curl_easy_setopt(curl, CURLOPT_PRIVATE, &f);
        curl_multi_add_handle(multi, curl);
        kept = true;
    }
    void transferDone(Fetching* done, CURLcode code)
    {
        const auto found = std::find_if(fetches.begin(), fetches.end(),
            [done](const auto& fetching) { return fetching.get() == done; });
        if (found == fetches.end())
            return;
        const std::shared_ptr<Fetching> fetching = *found;
        Fetching& f = *fetching;
        curl_multi_remove_handle(multi, f.curl);
        if (f.tooLong || code == CURLE_FILESIZE_EXCEEDED)
            return endFetch(fetching,
                {0, {}, {}, Failure::Network,
                    QStringLiteral("answer over %1 bytes").arg(limits::kMaxAnswerBytes)});
        if (code != CURLE_OK) {
            if (f.refused)
                return endFetch(fetching, {0, {}, {}, Failure::RefusedAddress, f.fetch.detail});
            return endFetch(fetching,
                {0, {}, {}, Failure::Network,
                    QString::fromUtf8(*f.detail ? f.detail : curl_easy_strerror(code))});
        }
        curl_easy_getinfo(f.curl, CURLINFO_RESPONSE_CODE, &f.fetch.status);
        char* location = nullptr;
        curl_easy_getinfo(f.curl, CURLINFO_REDIRECT_URL, &location);
        if (f.fetch.status >= 300 && f.fetch.status < 400 && location) {
            if (++f.redirects > limits::kMostRedirects)
                return endFetch(
                    fetching, {0, {}, {}, Failure::Network, QStringLiteral("too many redirects")});
            f.url = QUrl(QString::fromUtf8(location));
            f.release();
            return beginFetch(fetching);
        }
        endFetch(fetching, std::move(f.fetch));
    }
    void endFetch(
        std::shared_ptr<Fetching> fetching, HttpFetch result) // by value: it may leave fetches
    {
        if (fetching->over)
            return;
        fetching->over = true;
        if (fetching->curl)
            curl_multi_remove_handle(multi, fetching->curl);
        fetching->release();
        fetches.erase(std::remove(fetches.begin(), fetches.end(), fetching), fetches.end());
        fetching->done(std::move(result));
    }

    // --- whois ---------------------------------------------------------------------------------
    void endTalk(Talking* talking, Exchange exchange)
    {
        const auto found = std::find_if(
            talks.begin(), talks.end(), [talking](const auto& t) { return t.get() == talking; });
        std::unique_ptr<Talking> over = std::move(*found);
        talks.erase(found);
        over->done(std::move(exchange));
    }
    void connect(Talking& talking)
    {
        sockaddr_storage address {};
        const socklen_t length = talking.to.socketAddress(&address);
        talking.fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (talking.fd < 0
            || (::connect(talking.fd, reinterpret_cast<sockaddr*>(&address), length) != 0
                && errno != EINPROGRESS))
            endTalk(&talking,
                {{}, Failure::Network,
                    QStringLiteral("connect: %1").arg(QString::fromLocal8Bit(strerror(errno)))});
    }

    // --- the loop ------------------------------------------------------------------------------
    // What to poll beside libcurl's own sockets: the whois sockets and c-ares'.
    std::vector<curl_waitfd> waits()
    {
        std::vector<curl_waitfd> fds;
        for (const auto& talking : talks)
            fds.push_back(
                {talking->fd, short(talking->writing() ? CURL_WAIT_POLLOUT : CURL_WAIT_POLLIN), 0});
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            short events = 0;
            if (ARES_GETSOCK_READABLE(bits, i))
                events |= CURL_WAIT_POLLIN;
            if (ARES_GETSOCK_WRITABLE(bits, i))
                events |= CURL_WAIT_POLLOUT;
            if (events)
                fds.push_back({sockets[i], events, 0});
        }
        return fds;
    }
    void step(const std::vector<curl_waitfd>& polled)
    {
        for (const curl_waitfd& w : polled) {
            const bool ready = w.revents != 0;
            const auto talking = std::find_if(
                talks.begin(), talks.end(), [&](const auto& t) { return t->fd == w.fd; });
            if (talking != talks.end()) {
                if (ready && (*talking)->step())
                    endTalk(talking->get(), std::move((*talking)->exchange));
            } else if (ready) {
                const bool in = w.revents & (CURL_WAIT_POLLIN | CURL_WAIT_POLLPRI);
                const bool out = w.revents & CURL_WAIT_POLLOUT;
                ares_process_fd(channel, in ? w.fd : ARES_SOCKET_BAD, out ? w.fd : ARES_SOCKET_BAD);
            }
        }
        ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD); // its own time-outs
        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Fetching* fetching = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &fetching);
            transferDone(fetching, message->data.result);
        }
        const Clock::time_point now = Clock::now();
        for (size_t i = fetches.size(); i-- > 0;)
            if (i < fetches.size() && fetches[i]->deadline <= now)
                endFetch(fetches[i], {0, {}, {}, Failure::Network, QStringLiteral("timed out")});
        for (size_t i = talks.size(); i-- > 0;) {
            if (i >= talks.size())
                continue;
            Talking& talking = *talks[i];
            if (talking.fd < 0)
                connect(talking);
            else if (talking.deadline <= now)
                endTalk(&talking,
                    {{}, Failure::Network,
                        talking.connected ? QStringLiteral("answer timed out after %1 bytes")
                                                .arg(talking.exchange.answer.size())
                                          : QStringLiteral("connect timed out")});
        }
        expireNames();
        if (!fetches.empty() || !talks.empty()) {
            lastUsed = now;
        } else if (kept && now - lastUsed >= limits::kKeptConnectionIdle) {
            curl_multi_cleanup(multi); // closes every kept connection
            multi = newMulti();
            kept = false;
        }
    }
    int pollTimeoutMs()
    {
        const bool asking = std::any_of(
            names.begin(), names.end(), [](const auto& n) { return n.second.asking; });
        if (!fetches.empty() || !talks.empty() || asking)
            return 100;
        return int(
            duration_cast<milliseconds>(kept ? limits::kKeptConnectionIdle : hours(1)).count());
    }
    void endAll()
    {
        const auto stopping = [](auto&& done) { done({{}, Failure::Stopping, {}}); };
        while (!fetches.empty())
            endFetch(fetches.back(), {0, {}, {}, Failure::Stopping, {}});
        while (!talks.empty())
            endTalk(talks.back().get(), {{}, Failure::Stopping, {}});
        for (auto& [host, name] : names) {
            std::vector<NameWaiter> waiting;
            waiting.swap(name.waiting);
            for (NameWaiter& waiter : waiting)
                stopping(waiter.done);
        }
    }

    CURLSH* share = nullptr;
    CURLM* multi = nullptr;
    ares_channel channel = nullptr;
    bool kept = false; // connections may be open
    Clock::time_point lastUsed = Clock::now();
    std::map<QString, Name> names;
    std::vector<std::shared_ptr<Fetching>> fetches;
    std::vector<std::unique_ptr<Talking>> talks;
};

Transfers::Transfers(Settings settings)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK
        && ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS;
    if (!initialised)
        throw std::runtime_error("libcurl or c-ares cannot start");
    m_loop = std::make_unique<Loop>(settings);
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "whois-net");
        Loop& loop = *m_loop;
        std::vector<curl_waitfd> polled;
        for (;;) {
            std::vector<std::function<void(Loop&)>> jobs;
            bool stopping = false;
            {
                const std::lock_guard lock(m_mutex);
                jobs.swap(m_inbox);
                stopping = m_stopping;
            }
            for (auto& job : jobs)
                job(loop);
            if (stopping)
                return loop.endAll();
            loop.step(polled);
            polled = loop.waits();
            curl_multi_poll(
                loop.multi, polled.data(), unsigned(polled.size()), loop.pollTimeoutMs(), nullptr);
        }
    });
}

Transfers::~Transfers()
{
    stop();
}

bool Transfers::post(std::function<void(Loop&)> job)
{
    const std::lock_guard lock(m_mutex);
    if (m_stopping)
        return false;
    m_inbox.push_back(std::move(job));
    curl_multi_wakeup(m_loop->multi);
    return true;
}

void Transfers::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        curl_multi_wakeup(m_loop->multi);
    }
    m_thread.join();
}

void Transfers::resolve(const QString& host, milliseconds limit, std::function<void(Resolved)> done)
{
    if (const QHostAddress literal(host); !literal.isNull())
        return done({{literal}, Failure::None, {}});
    const Clock::time_point deadline = Clock::now() + limit;
    auto shared = std::make_shared<std::function<void(Resolved)>>(std::move(done));
    if (!post([host, deadline, shared](
                  Loop& loop) { loop.resolveName(host, deadline, std::move(*shared)); }))
        (*shared)({{}, Failure::Stopping, {}});
}

void Transfers::fetch(FetchRequest request, std::function<void(HttpFetch)> done)
{
    auto fetching = std::make_shared<Fetching>();
    fetching->deadline = Clock::now() + request.limit;
    fetching->url = QUrl(request.url);
    fetching->request = std::move(request);
    fetching->done = std::move(done);
    fetching->opened = &m_opened;
    if (!post([fetching](Loop& loop) {
            loop.fetches.push_back(fetching);
            loop.beginFetch(fetching);
        }))
        fetching->done({0, {}, {}, Failure::Stopping, {}});
}

void Transfers::exchange(const Endpoint& to, const QByteArray& query, milliseconds limit,
    std::function<void(Exchange)> done)
{
    auto talking = std::make_shared<std::unique_ptr<Talking>>(std::make_unique<Talking>());
    (*talking)->to = to;
    (*talking)->query = query;
    (*talking)->deadline = Clock::now() + limit;
    (*talking)->done = std::move(done);
    if (!post([talking](Loop& loop) { loop.talks.push_back(std::move(*talking)); }))
        (*talking)->done({{}, Failure::Stopping, {}});
}
