#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QString>

// A small HTTP/1.1 server on 127.0.0.1 and a free port, answering from its own threads, so the
// program's blocking fetch on the test's main thread can be served.
class TestHttpServer
{
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        bool withLength = true; // false: the body ends when the connection closes
        bool neverAnswer = false; // accept, read the request, then say nothing
        std::function<void()> onRequest; // runs on the server thread as the request arrives
    };

    TestHttpServer();
    ~TestHttpServer();

    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    // Answers requests whose path (the target up to '?') is path.
    void route(const QByteArray& path, Response response);
    // Answers requests whose whole target is target; wins over route().
    void routeTarget(const QByteArray& target, Response response);
    // The request heads received so far, in order.
    std::vector<QByteArray> requests() const;
    std::vector<QByteArray> targets() const;

private:
    void serve();
    void answer(int client);
    Response responseFor(const QByteArray& target) const;

    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping {false};
    mutable std::mutex m_mutex;
    std::map<QByteArray, Response> m_paths;
    std::map<QByteArray, Response> m_targets;
    std::vector<QByteArray> m_requests;
    std::vector<std::thread> m_workers;
    std::thread m_acceptor;
};

// text encoded as GBK, the whois service's code page.
QByteArray gbk(const QString& text);
