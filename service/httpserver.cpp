#include "httpserver.h"

#include <sys/socket.h>

#include <cstring>
#include <mutex>
#include <stdexcept>

#include <microhttpd.h>

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
            = int(std::chrono::duration_cast<std::chrono::seconds>(*sent.freshUntil - Clock::now())
                      .count());
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.constData());
    const QByteArray cache
        = maxAge > 0 ? "public, max-age=" + QByteArray::number(maxAge) : "no-store";
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, cache.constData());
    if (reply.status == 503 && reply.maxAgeSeconds > 0) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER,
            QByteArray::number(reply.maxAgeSeconds).constData());
    }
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void* server, MHD_Connection* connection, const char* url, const char* method,
    const char*, const char*, size_t* uploadSize, void** state)
{
    if (!*state) { // the headers are in; the request is handled once the whole of it is
        auto* exchange = new ExchangePtr(std::make_shared<Exchange>());
        (*exchange)->connection = connection;
        *state = exchange;
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
        HttpRequest request {method, url, {}};
        MHD_get_connection_values_n(
            connection, MHD_GET_ARGUMENT_KIND, collectArgument, &request.query);
        lock.unlock();
        static_cast<HttpServer*>(server)->handler()(request, [exchange](Sent sent) {
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

void finished(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode)
{
    delete static_cast<ExchangePtr*>(*state);
    *state = nullptr;
}

} // namespace

HttpServer::HttpServer(const Endpoint& listen, HttpHandler handler, HttpLimits limits)
    : m_handler(std::move(handler))
{
    sockaddr_storage address {};
    listen.socketAddress(&address);
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    if (address.ss_family == AF_INET6)
        flags |= MHD_USE_IPv6;
    m_daemon
        = MHD_start_daemon(flags, listen.port, nullptr, nullptr, answer, this, MHD_OPTION_SOCK_ADDR,
            &address, MHD_OPTION_THREAD_POOL_SIZE, limits.threads, MHD_OPTION_CONNECTION_LIMIT,
            limits.connections, MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds,
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.requestBytes, MHD_OPTION_LISTEN_BACKLOG_SIZE,
            1024u, MHD_OPTION_NOTIFY_COMPLETED, finished, nullptr, MHD_OPTION_END);
    if (!m_daemon) {
        throw std::runtime_error(QStringLiteral("cannot listen on %1:%2")
                                     .arg(listen.address.toString())
                                     .arg(listen.port)
                                     .toStdString());
    }
    m_port = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
}

HttpServer::~HttpServer()
{
    MHD_stop_daemon(m_daemon);
}
