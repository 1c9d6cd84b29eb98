#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QString>

// A small HTTP server on 127.0.0.1 and a free port, answering from threads of its own, so that
// the program's blocking fetch on the test's main thread can be served.
class TestHttpServer
{
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        bool withLength = true; // false: the body ends when the connection closes
        bool neverAnswer = false; // reads the request, then says nothing
        std::function<void()> onRequest; // runs on the server's thread as the request arrives
    };

    TestHttpServer();
    ~TestHttpServer();

    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    // Answers requests whose path (the target up to '?') is path; others get a 404 page.
    void route(const QByteArray& path, Response response);
    // The request heads received so far, and their targets.
    std::vector<QByteArray> requests() const;
    std::vector<QByteArray> targets() const;

private:
    void answer(int client);

    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping {false};
    mutable std::mutex m_mutex;
    std::map<QByteArray, Response> m_routes;
    std::vector<QByteArray> m_requests;
    int m_answering = 0; // connections being answered, under m_mutex
    std::condition_variable m_allAnswered;
    std::thread m_acceptor;
};

// text encoded as GBK, the whois service's code page.
QByteArray gbk(const QString& text);
