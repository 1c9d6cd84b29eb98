#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

struct MHD_Daemon;

// An HTTP server on a loopback address and a free port, answering on threads of its own, so that
// a blocking fetch on the test's main thread can be served.
class TestHttpServer
{
public:
    struct Request
    {
        QByteArray target; // as sent, before any decoding
        QByteArray headers; // "name: value" lines, names in lower case
    };
    struct Response
    {
        int status = 200;
        QByteArray body;
        bool withLength = true; // false: the body ends when the connection closes
        bool neverAnswer = false; // takes the request, then says nothing
        std::function<void()> onRequest; // runs on the server's thread as the request arrives
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    using Handler = std::function<Response(const Request&)>;

    explicit TestHttpServer(const char* address = "127.0.0.1");
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    QString base() const;
    // Answers requests whose path (the target up to '?') is path; others get a 404 page.
    void route(const QByteArray& path, Response response);
    void route(const QByteArray& path, Handler handler);
    std::vector<Request> requests() const;
    std::vector<QByteArray> targets() const;

    // For the server's callbacks.
    Response take(const Request& request);
    void waitUntilStopped();

private:
    QByteArray m_address;
    quint16 m_port = 0;
    MHD_Daemon* m_daemon = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    std::map<QByteArray, Handler> m_routes;
    std::vector<Request> m_requests;
};

// What a plain HTTP request got back.
struct HttpGot
{
    long status = 0; // 0: no answer
    QByteArray headers;
    QByteArray body;
};
HttpGot httpRequest(const QString& url, const char* method = "GET",
    const QList<QByteArray>& headers = {}, long timeoutMs = 30000);

// text encoded as GBK, the whois service's code page.
QByteArray gbk(const QString& text);
