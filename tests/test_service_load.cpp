// The service under load and upstream faults, on loopback, bounded in time and count. Prints its
// figures; asserts only that every well-formed query is answered, within its budget.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtTest>

#include "query/cut.h"
#include "query/whois.h"
#include "support/fakeregistries.h"
#include "support/httpserver.h"
#include "support/procstat.h"

namespace {

// A client on a raw socket: sends its request whole, a byte at a time, or not at all.
struct RawClient
{
    enum Kind { Query, Slow, Idle } kind;
    QByteArray request;
    qint64 startMs = 0; // when it connects
    int fd = -1;
    qsizetype sent = 0;
    QByteArray got;
    qint64 tookMs = -1; // from connecting to the end of the answer
};

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    return fd;
}

QByteArray request(const QByteArray& domain)
{
    return "GET /cgi-bin/whois?domain=" + domain
        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

// Connects every client when its time comes and drives it, until the querying ones have their
// answers or time is up.
void drive(std::vector<RawClient>& clients, quint16 port, std::chrono::seconds limit)
{
    QElapsedTimer clock;
    clock.start();
    qint64 nextSlowByte = 0;
    for (;;) {
        std::vector<pollfd> fds;
        for (RawClient& c : clients) {
            if (c.fd < 0 && clock.elapsed() >= c.startMs)
                c.fd = connectTo(port);
            short events = c.fd < 0 || c.tookMs >= 0 ? 0 : POLLIN;
            if (c.kind == RawClient::Query && c.sent < c.request.size())
                events |= POLLOUT;
            fds.push_back({c.fd, events, 0});
        }
        const bool allAnswered = std::all_of(clients.begin(), clients.end(),
            [](const RawClient& c) { return c.kind != RawClient::Query || c.tookMs >= 0; });
        if (allAnswered || clock.elapsed() > limit.count() * 1000)
            return;
        ::poll(fds.data(), fds.size(), 50);
        for (size_t i = 0; i < clients.size(); ++i) {
            RawClient& c = clients[i];
            if (fds[i].revents & POLLOUT) {
                const ssize_t n = ::send(c.fd, c.request.constData() + c.sent,
                    size_t(c.request.size() - c.sent), MSG_NOSIGNAL);
                c.sent += std::max<ssize_t>(n, 0);
            }
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buffer[8192];
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (n > 0)
                    c.got.append(buffer, n);
                else
                    c.tookMs = clock.elapsed() - c.startMs;
            }
        }
        if (clock.elapsed() >= nextSlowByte) { // one byte a second
            nextSlowByte += 1000;
            for (RawClient& c : clients) {
                if (c.kind == RawClient::Slow && c.sent < c.request.size())
                    c.sent += std::max<ssize_t>(
                        ::send(c.fd, c.request.constData() + c.sent, 1, MSG_NOSIGNAL), 0);
            }
        }
    }
}

} // namespace

class TestServiceLoad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void thousandConnections();
    void floodAgainstSlowUpstream();
    void faultyUpstreams_data();
    void faultyUpstreams();
};

void TestServiceLoad::initTestCase()
{
    rlimit files {};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &files);
    QVERIFY2(files.rlim_cur >= 4096, "needs 4096 descriptors");
}

// Half the clients idle or sending their request a byte a second; the other half query.
void TestServiceLoad::thousandConnections()
{
    FakeRegistries registries;
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    ServiceSettings settings = onLoopback(registries.settings());
    settings.registries.perMinute = {1000, 1000, 1000};
    settings.http.perClient = 1000; // one address stands for many clients here
    WhoisService service(settings);
    ask(service, "example.com.cn");
    const double before = double(rssKb(getpid())) / 1024;

    // The idle and slow ones connect first and stay; the querying ones come in ten waves over
    // three seconds. Most ask for a domain already kept, some for one of 40 new ones.
    std::vector<RawClient> clients;
    for (int i = 0; i < 1000; ++i) {
        const RawClient::Kind kind = i % 2 ? RawClient::Query
            : i % 4                        ? RawClient::Slow
                                           : RawClient::Idle;
        const QByteArray domain
            = i % 10 == 1 ? "d" + QByteArray::number(i % 40) + ".cn" : "example.com.cn";
        clients.push_back({kind, request(domain), kind == RawClient::Query ? 300 * (i % 10) : 0});
    }
    drive(clients, service.port(), std::chrono::seconds(20));
    int answered = 0;
    qint64 slowest = 0;
    for (const RawClient& c : clients) {
        if (c.kind == RawClient::Query && c.got.startsWith("HTTP/1.1 200")
            && c.got.contains("\r\n\r\nDomain Name:")) {
            ++answered;
            slowest = std::max(slowest, c.tookMs);
        }
    }
    const double peak = double(peakRssKb(getpid())) / 1024;
    const int stillOpen = int(std::count_if(clients.begin(), clients.end(), [](const RawClient& c) {
        pollfd p {c.fd, POLLIN, 0};
        return c.kind != RawClient::Query && ::poll(&p, 1, 0) == 0;
    }));
    for (RawClient& c : clients)
        ::close(c.fd);
    qInfo("1000 connections over 3 s (250 idle, 250 sending a byte a second, 500 querying): %d/500 "
          "answered, the slowest in %lld ms, %d/500 idle and slow ones still open; memory %.1f MB "
          "before, %.1f MB peak, %.1f MB after",
        answered, slowest, stillOpen, before, peak, double(rssKb(getpid())) / 1024);
    QCOMPARE(answered, 500);
    QCOMPARE(ask(service, "example.com.cn").status, 200L); // and it serves normally afterwards
}

// Distinct domains, all for one slow server: each is answered within the budget, rate-limited
// or unavailable where it must be, and the service's own pages stay quick meanwhile.
void TestServiceLoad::floodAgainstSlowUpstream()
{
    FakeRegistries registries;
    registries.iana.answer("test", ianaReferral("test", "whois.slow.test"));
    registries.slow.fallback("Registrar: Slow Registrar\nCreation Date: 2001-01-01T00:00:00Z\n");
    ServiceSettings settings = onLoopback(registries.settings());
    settings.budget = std::chrono::seconds(3);
    settings.http.perClient = 1000;
    WhoisService service(settings);
    registries.slow.behave(FakeWhoisServer::Manner::Late); // a second for every answer

    constexpr int kFlood = 300;
    std::vector<RawClient> clients;
    for (int i = 0; i < kFlood; ++i)
        clients.push_back({RawClient::Query, request("flood-" + QByteArray::number(i) + ".test")});
    QElapsedTimer clock;
    clock.start();
    qint64 homeTook = -1;
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // in the thick of it
        QElapsedTimer home;
        home.start();
        if (httpRequest(QStringLiteral("http://127.0.0.1:%1/").arg(service.port())).status == 200)
            homeTook = home.elapsed();
    });
    drive(clients, service.port(), std::chrono::seconds(20));
    const qint64 took = clock.elapsed();
    other.join();
    QMap<QString, int> outcomes;
    for (RawClient& c : clients) {
        ::close(c.fd);
        QString page = decodeAnsi(c.got.mid(c.got.indexOf("\r\n\r\n") + 4));
        const WhoisFacts facts = readWhoisPage(StripBlanks(page));
        outcomes[facts.cop.isEmpty() ? facts.truename : QStringLiteral("registered")] += 1;
    }
    QStringList counts;
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        counts << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    qInfo("%d distinct domains against a server taking a second per answer (budget 3 s): all "
          "answered in %lld ms (%s); the home page meanwhile in %lld ms; peak memory %.1f MB",
        kFlood, took, qPrintable(counts.join(", ")), homeTook, double(peakRssKb(getpid())) / 1024);
    QCOMPARE(std::accumulate(outcomes.cbegin(), outcomes.cend(), 0), kFlood);
    QVERIFY(took < 3000 + 2000);
    QVERIFY(homeTook >= 0);
}

void TestServiceLoad::faultyUpstreams_data()
{
    QTest::addColumn<int>("manner");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("shown");
    QByteArray garbage(4096, Qt::Uninitialized);
    for (char& c : garbage)
        c = char(QRandomGenerator::global()->bounded(256));
    QTest::newRow("garbage") << int(FakeWhoisServer::Manner::Answer) << garbage
                             << "注册局暂时没有应答，请稍后再试";
    QTest::newRow("closes mid-answer")
        << int(FakeWhoisServer::Manner::Answer) << whoisFixture("cnnic-cn.txt").left(150)
        << "北京示例科技有限公司";
    QTest::newRow("trickles forever")
        << int(FakeWhoisServer::Manner::Trickle) << whoisFixture("cnnic-cn.txt")
        << "注册局暂时没有应答，请稍后再试";
}

void TestServiceLoad::faultyUpstreams()
{
    QFETCH(int, manner);
    QFETCH(QByteArray, answer);
    QFETCH(QString, shown);
    FakeRegistries registries;
    registries.iana.answer("cn", ianaReferral("cn", "whois.slow.test"));
    registries.slow.fallback(answer);
    registries.slow.behave(FakeWhoisServer::Manner(manner));
    ServiceSettings settings = onLoopback(registries.settings());
    settings.budget = std::chrono::seconds(3);
    WhoisService service(settings);
    QElapsedTimer clock;
    clock.start();
    const Answer got = ask(service, "example.com.cn");
    qInfo("%s: answered in %lld ms", QTest::currentDataTag(), clock.elapsed());
    QCOMPARE(got.shown.at(1), shown);
}

QTEST_GUILESS_MAIN(TestServiceLoad)
#include "test_service_load.moc"
