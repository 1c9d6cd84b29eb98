#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QHash>

#include "service/reply.h"
#include "service/upstream.h"

struct MHD_Daemon;

struct HttpRequest
{
    QByteArray method;
    QByteArray path; // percent-decoded
    QHash<QByteArray, QByteArray> query; // percent-decoded values
};

using HttpHandler = std::function<void(const HttpRequest&, Respond)>;

struct HttpLimits
{
    unsigned connections = 4000; // open at once; more wait in the listen queue
    unsigned idleSeconds = 30; // a connection that sends nothing for this long is closed
    size_t requestBytes = 16 * 1024; // request line and headers together
    unsigned threads = 2; // event loops; look-ups never run on them
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
    const HttpHandler& handler() const { return m_handler; }

private:
    HttpHandler m_handler;
    MHD_Daemon* m_daemon = nullptr;
    quint16 m_port = 0;
};
