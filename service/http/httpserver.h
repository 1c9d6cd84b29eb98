#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QHash>

#include "service/http/reply.h"
#include "service/limits.h"
#include "service/net/network.h"

struct MHD_Daemon;

struct HttpRequest
{
    QByteArray method;
    QByteArray path; // percent-decoded
    QHash<QByteArray, QByteArray> query; // percent-decoded values
    QString client; // the peer's client (clientOf), or the one a trusted proxy forwarded
};

using HttpHandler = std::function<void(const HttpRequest&, Respond)>;

struct HttpLimits
{
    unsigned connections = limits::kConnections;
    // Open at once from one client (an IPv4 address, an IPv6 /64), but for trusted proxies.
    unsigned perClient = limits::kConnectionsPerClient;
    unsigned idleSeconds = limits::kIdleSeconds;
    unsigned requestSeconds = limits::kRequestSeconds;
    size_t requestBytes = limits::kRequestBytes;
    unsigned threads = limits::kHttpThreads;
    // Proxies whose X-Forwarded-For names the client; any other peer is the client itself.
    std::vector<QHostAddress> trustedProxies;
};

// The service's HTTP server on libmicrohttpd. Answers never block its threads: a handler that
// cannot answer at once keeps Respond, and the connection waits, suspended, until it is called.
class HttpServer
{
public:
    // Throws std::runtime_error when it cannot listen.
    HttpServer(const Endpoint& listen, HttpHandler handler, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    quint16 port() const { return m_port; }

    // For the server's callbacks.
    struct Connection;
    const HttpHandler& handler() const { return m_handler; }
    bool admit(const QHostAddress& peer);
    void opened(Connection* connection);
    void closed(Connection* connection);
    void receiving(Connection* connection, bool receiving);
    void exchangeBegun();
    void exchangeEnded();
    QString client(const QHostAddress& peer, const char* forwarded) const;

private:
    void reap();

    const HttpHandler m_handler;
    const HttpLimits m_limits;
    MHD_Daemon* m_daemon = nullptr;
    quint16 m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QHash<QString, unsigned> m_perClient; // open connections by client
    std::set<Connection*> m_connections;
    unsigned m_exchanges = 0; // requests in, not yet answered and sent
    bool m_stopping = false;
    std::thread m_reaper;
};
