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
#include "service/net/upstream.h"

struct MHD_Daemon;

struct HttpRequest
{
    QByteArray method;
    QByteArray path; // percent-decoded
    QHash<QByteArray, QByteArray> query; // percent-decoded values
    QString client; // the peer's address, or the one a trusted proxy forwarded
};

using HttpHandler = std::function<void(const HttpRequest&, Respond)>;

struct HttpLimits
{
    unsigned connections = 4000; // open at once; more wait in the listen queue
    // Open at once from one address, but for trusted proxies; once three quarters of all
    // connections are taken, an eighth of it, so that room stays for others.
    unsigned perClient = 64;
    unsigned idleSeconds = 30; // a connection that sends nothing for this long is closed
    // To send a whole request, from connecting or from the previous answer, however steadily.
    unsigned requestSeconds = 10;
    size_t requestBytes = 16 * 1024; // request line and headers together
    unsigned threads = 2; // event loops; look-ups never run on them
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
    QHash<QHostAddress, unsigned> m_perPeer; // open connections by peer
    std::set<Connection*> m_connections;
    unsigned m_exchanges = 0; // requests in, not yet answered and sent
    bool m_stopping = false;
    std::thread m_reaper;
};
