#pragma once

#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringEncoder>

struct MHD_Daemon;

// An upstream for the tests on a loopback address: HTTP (on libmicrohttpd) or whois (RFC 3912:
// one query line, the answer, then close). Both answer from one table keyed by the HTTP path or
// the whois query, and deliver each answer in the manner its row names, on threads of their own.
class FakeServer
{
public:
    enum class Protocol { Http, Whois };
    // Hang: takes the request, then says nothing. Trickle: a byte of the body every 100 ms, over
    // and over. Flood: the body 4096 times. Late: the answer after a second. CloseDelimited: the
    // body ended by closing the connection (every whois answer is).
    enum class Manner { Answer, Hang, Trickle, Flood, Late, CloseDelimited };
    struct Request
    {
        QByteArray target; // the HTTP target as sent, or the whois query line
        QByteArray headers; // "name: value" lines, names in lower case
    };
    struct Response
    {
        int status = 200;
        QByteArray body;
        bool withLength = true; // false: CloseDelimited
        bool neverAnswer = false; // true: Hang
        Manner manner = Manner::Answer;
        std::function<void()> onRequest; // runs on the server's thread as the request arrives
        QList<QPair<QByteArray, QByteArray>> headers;
    };

    // port 0: a free one.
    FakeServer(Protocol protocol, const char* address, quint16 port = 0);
    ~FakeServer();

    quint16 port() const { return m_port; }
    QString base() const { return QStringLiteral("http://%1:%2").arg(m_address).arg(m_port); }
    // Answers requests for key (a path or query, up to '?'). Others get the fallback: a 404 page
    // over HTTP, nothing over whois.
    void route(const QByteArray& key, Response response)
    {
        const std::lock_guard lock(m_mutex);
        m_routes[key] = std::move(response);
    }
    void answer(const QByteArray& query, const QByteArray& text) { route(query, {200, text}); }
    void fallback(Response response) { route({}, std::move(response)); }
    void fallback(const QByteArray& text) { route({}, {200, text}); }
    std::vector<Request> requests() const
    {
        const std::lock_guard lock(m_mutex);
        return m_requests;
    }
    std::vector<QByteArray> targets() const;
    // How many requests asked for target exactly.
    qsizetype asked(const QByteArray& target) const
    {
        const auto all = targets();
        return std::count(all.begin(), all.end(), target);
    }

    // For the server's threads. take: records the request, gives its row once its manner's wait
    // is over; false when the server stopped meanwhile. produce: the body's bytes from at; 0 at
    // its end, -1 once the server stops.
    bool take(const Request& request, Response& response);
    qsizetype produce(const Response& response, qint64 at, char* buffer, qsizetype max);

private:
    void serve(int client);
    // true: the server stops.
    bool waitForStop(std::chrono::milliseconds most) const
    {
        return std::shared_future(m_stopped).wait_for(most) == std::future_status::ready;
    }

    const QString m_address;
    quint16 m_port = 0;
    MHD_Daemon* m_daemon = nullptr;
    int m_listener = -1;
    mutable std::mutex m_mutex;
    std::promise<void> m_stop;
    const std::shared_future<void> m_stopped = m_stop.get_future().share();
    std::map<QByteArray, Response> m_routes;
    std::vector<Request> m_requests;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};

template <FakeServer::Protocol kind> struct FakeOf : FakeServer
{
    explicit FakeOf(const char* at = "127.0.0.1", quint16 port = 0) : FakeServer(kind, at, port) { }
};
using TestHttpServer = FakeOf<FakeServer::Protocol::Http>;
using FakeWhoisServer = FakeOf<FakeServer::Protocol::Whois>;
using Manner = FakeServer::Manner;
Q_DECLARE_METATYPE(FakeServer::Response)

struct HttpGot
{
    long status = 0; // 0: no answer
    QByteArray headers;
    QByteArray body;
};
// target: the request target to send instead of the url's path, such as an absolute URL.
HttpGot httpRequest(const QString& url, const char* method = "GET",
    const QList<QByteArray>& headers = {}, long timeoutMs = 30000, const QByteArray& target = {});

// A name server on a loopback address that takes every question and answers none.
class SilentNameServer
{
public:
    explicit SilentNameServer(const char* address = "127.0.0.9");
    ~SilentNameServer();
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;
    // "address:port", as the service's DNS setting takes it.
    QString server() const { return m_server; }

private:
    int m_fd = -1;
    QString m_server;
};

inline const auto gbk = [](const QString& text) -> QByteArray {
    QStringEncoder encoder("GBK"); // outlives the encoding it hands back
    return encoder.encode(text);
};
// A fixture file of tests/whois or tests/rdap.
QByteArray fixtureFile(const char* folder, const char* name);
inline const auto whoisFixture = [](const char* name) { return fixtureFile(WHOIS_FIXTURES, name); };
inline const auto rdapFixture = [](const char* name) { return fixtureFile(RDAP_FIXTURES, name); };
// The rows of a tab-separated table in a fixture folder, blank and '#' lines left out. With a
// noteTag, a "# TAG: text" line under a row adds its text to the row as one more column (empty
// where there is none).
QList<QStringList> tableIn(const char* folder, const char* name, const QString& noteTag = {});
// The rows of a table in tests/whois.
inline QList<QStringList> tableOf(const char* name)
{
    return tableIn(WHOIS_FIXTURES, name);
}
