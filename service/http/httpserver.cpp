#include "httpserver.h"

#include <pthread.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>
#include <stdexcept>

#include <QStringList>

#include "service/net/addresspolicy.h"

#include <microhttpd.h>

using namespace std::chrono;

// A connection as the server keeps it: whose, and since when it has been sending a request.
struct HttpServer::Connection
{
    QHostAddress peer;
    int fd = -1;
    bool receiving = true;
    Clock::time_point since = Clock::now();
    bool cut = false;
};

namespace {

// One request's way from the handler to its answer.
struct Exchange
{
    std::mutex mutex;
    MHD_Connection* connection = nullptr;
    bool started = false;
    bool suspended = false;
    std::optional<Sent> sent;
};
using ExchangePtr = std::shared_ptr<Exchange>;

MHD_Result collectArgument(void* query, MHD_ValueKind, const char* key, size_t keySize,
    const char* value, size_t valueSize)
{
    static_cast<QHash<QByteArray, QByteArray>*>(query)->insert(QByteArray(key, qsizetype(keySize)),
        value ? QByteArray(value, qsizetype(valueSize)) : QByteArray());
    return MHD_YES;
}

MHD_Result queue(MHD_Connection* connection, const Sent& sent)
{
    const Reply& reply = *sent.reply;
    auto* keep = new std::shared_ptr<const Reply>(sent.reply);
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        size_t(reply.body.size()), const_cast<char*>(reply.body.constData()),
        [](void* held) { delete static_cast<std::shared_ptr<const Reply>*>(held); }, keep);
    int maxAge = reply.maxAgeSeconds;
    if (sent.freshUntil) {
        maxAge
            = int(std::chrono::ceil<std::chrono::seconds>(*sent.freshUntil - Clock::now()).count());
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.constData());
    const QByteArray cache
        = maxAge > 0 ? "public, max-age=" + QByteArray::number(maxAge) : "no-store";
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, cache.constData());
    for (const auto& [name, value] : reply.headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    if ((reply.status == 503 || reply.status == 429) && reply.maxAgeSeconds > 0) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER,
            QByteArray::number(reply.maxAgeSeconds).constData());
    }
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

// The path of a request target: HTTP/1.1 servers take the absolute form too (RFC 9112 3.2.2),
// "http://host:port/path", as a proxy would send it.
QByteArray originForm(const char* target)
{
    const QByteArray path(target);
    const qsizetype scheme = path.indexOf("://");
    if (scheme <= 0
        || !(path.left(scheme).toLower() == "http" || path.left(scheme).toLower() == "https"))
        return path;
    const qsizetype slash = path.indexOf('/', scheme + 3);
    return slash < 0 ? QByteArray("/") : path.mid(slash);
}

HttpServer::Connection* connectionOf(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info
        = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<HttpServer::Connection*>(info->socket_context) : nullptr;
}

MHD_Result admit(void* server, const sockaddr* address, socklen_t)
{
    return static_cast<HttpServer*>(server)->admit(QHostAddress(address)) ? MHD_YES : MHD_NO;
}

void notify(
    void* server, MHD_Connection* connection, void** context, MHD_ConnectionNotificationCode code)
{
    auto* http = static_cast<HttpServer*>(server);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* kept = new HttpServer::Connection;
        kept->peer = QHostAddress(
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)->client_addr);
        kept->fd
            = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
        *context = kept;
        http->opened(kept);
    } else if (auto* kept = static_cast<HttpServer::Connection*>(*context)) {
        http->closed(kept);
        delete kept;
        *context = nullptr;
    }
}

MHD_Result answer(void* server, MHD_Connection* connection, const char* url, const char* method,
    const char*, const char*, size_t* uploadSize, void** state)
{
    auto* http = static_cast<HttpServer*>(server);
    if (!*state) { // the headers are in; the request is handled once the whole of it is
        auto* exchange = new ExchangePtr(std::make_shared<Exchange>());
        (*exchange)->connection = connection;
        *state = exchange;
        http->exchangeBegun();
        return MHD_YES;
    }
    const ExchangePtr exchange = *static_cast<ExchangePtr*>(*state);
    if (*uploadSize != 0) { // request bodies are not looked at
        *uploadSize = 0;
        return MHD_YES;
    }
    std::unique_lock lock(exchange->mutex);
    if (!exchange->started) {
        exchange->started = true;
        HttpServer::Connection* kept = connectionOf(connection);
        http->receiving(kept, false);
        HttpRequest request {method, originForm(url), {}, {}};
        MHD_get_connection_values_n(
            connection, MHD_GET_ARGUMENT_KIND, collectArgument, &request.query);
        request.client = http->client(kept ? kept->peer : QHostAddress(),
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For"));
        lock.unlock();
        http->handler()(request, [exchange](Sent sent) {
            const std::lock_guard lock(exchange->mutex);
            exchange->sent = std::move(sent);
            if (exchange->suspended) {
                exchange->suspended = false;
                MHD_resume_connection(exchange->connection);
            }
        });
        lock.lock();
    }
    if (exchange->sent)
        return queue(connection, *exchange->sent);
    exchange->suspended = true;
    MHD_suspend_connection(connection);
    return MHD_YES;
}

void finished(void* server, MHD_Connection* connection, void** state, MHD_RequestTerminationCode)
{
    auto* http = static_cast<HttpServer*>(server);
    http->receiving(connectionOf(connection), true); // the next request's time begins
    if (*state) {
        delete static_cast<ExchangePtr*>(*state);
        *state = nullptr;
        http->exchangeEnded();
    }
}

} // namespace

HttpServer::HttpServer(const Endpoint& listen, HttpHandler handler, HttpLimits limits)
    : m_handler(std::move(handler)), m_limits(std::move(limits))
{
    sockaddr_storage address {};
    listen.socketAddress(&address);
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    if (address.ss_family == AF_INET6)
        flags |= MHD_USE_IPv6;
    m_daemon = MHD_start_daemon(flags, listen.port, ::admit, this, answer, this,
        MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_THREAD_POOL_SIZE, m_limits.threads,
        MHD_OPTION_CONNECTION_LIMIT, m_limits.connections, MHD_OPTION_CONNECTION_TIMEOUT,
        m_limits.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_limits.requestBytes,
        MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024u, MHD_OPTION_NOTIFY_COMPLETED, finished, this,
        MHD_OPTION_NOTIFY_CONNECTION, notify, this, MHD_OPTION_END);
    if (!m_daemon) {
        throw std::runtime_error(QStringLiteral("cannot listen on %1:%2")
                                     .arg(listen.address.toString())
                                     .arg(listen.port)
                                     .toStdString());
    }
    m_port = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
    m_reaper = std::thread(&HttpServer::reap, this);
}

HttpServer::~HttpServer()
{
    {
        // Answers given just now are let out before the connections close, for a moment at most.
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, milliseconds(500), [this] { return m_exchanges == 0; });
        m_stopping = true;
    }
    m_changed.notify_all();
    m_reaper.join();
    MHD_stop_daemon(m_daemon);
}

bool HttpServer::admit(const QHostAddress& peer)
{
    const std::lock_guard lock(m_mutex);
    if (std::find(m_limits.trustedProxies.begin(), m_limits.trustedProxies.end(), peer)
        != m_limits.trustedProxies.end())
        return true;
    const bool crowded = m_connections.size() >= m_limits.connections / 4 * 3;
    return m_perClient.value(clientOf(peer))
        < (crowded ? std::max(1u, m_limits.perClient / 8) : m_limits.perClient);
}

void HttpServer::opened(Connection* connection)
{
    const std::lock_guard lock(m_mutex);
    m_connections.insert(connection);
    ++m_perClient[clientOf(connection->peer)];
}

void HttpServer::closed(Connection* connection)
{
    const std::lock_guard lock(m_mutex);
    m_connections.erase(connection);
    const QString client = clientOf(connection->peer);
    if (--m_perClient[client] == 0)
        m_perClient.remove(client);
}

void HttpServer::receiving(Connection* connection, bool receiving)
{
    if (!connection)
        return;
    const std::lock_guard lock(m_mutex);
    connection->receiving = receiving;
    connection->since = Clock::now();
}

void HttpServer::exchangeBegun()
{
    const std::lock_guard lock(m_mutex);
    ++m_exchanges;
}

void HttpServer::exchangeEnded()
{
    {
        const std::lock_guard lock(m_mutex);
        --m_exchanges;
    }
    m_changed.notify_all();
}

QString HttpServer::client(const QHostAddress& peer, const char* forwarded) const
{
    // The nearest address in the chain that no trusted proxy gave is the client's.
    const auto trusted = [this](const QHostAddress& address) {
        return std::find(m_limits.trustedProxies.begin(), m_limits.trustedProxies.end(), address)
            != m_limits.trustedProxies.end();
    };
    QHostAddress client = peer;
    if (forwarded && trusted(peer)) {
        const QStringList chain = QString::fromLatin1(forwarded).split(u',');
        for (auto hop = chain.crbegin(); hop != chain.crend() && trusted(client); ++hop) {
            const QHostAddress named(hop->trimmed());
            if (named.isNull())
                break;
            client = named;
        }
    }
    return clientOf(client);
}

void HttpServer::reap()
{
    pthread_setname_np(pthread_self(), "whois-reaper");
    // A request still coming in after requestSeconds is cut off: its socket is shut down, which
    // the server sees as the client leaving. Connections close only after they are forgotten
    // here, so a socket shut down under the lock is still theirs.
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const Clock::time_point cutoff = Clock::now() - seconds(m_limits.requestSeconds);
        for (Connection* connection : m_connections) {
            if (connection->receiving && !connection->cut && connection->since <= cutoff) {
                connection->cut = true;
                ::shutdown(connection->fd, SHUT_RDWR);
            }
        }
        m_changed.wait_for(lock, milliseconds(250));
    }
}
