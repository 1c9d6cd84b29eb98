// The whois service end to end over real protocols: fake IANA, registry and registrar servers
// on 127.0.0.x speaking port-43 whois, the service answering HTTP on loopback, and every page
// read back as the window reads it.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <QtTest>

#include "query/cut.h"
#include "query/whois.h"
#include "support/fakeregistries.h"
#include "support/httpserver.h"

namespace {

// A raw client connection from a loopback address of the test's choice; -1 when refused.
int connectFrom(const char* from, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage local {}, remote {};
    const socklen_t length = Endpoint {QHostAddress(from), 0}.socketAddress(&local);
    Endpoint {QHostAddress::LocalHost, port}.socketAddress(&remote);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), length) != 0
        || ::connect(fd, reinterpret_cast<sockaddr*>(&remote), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the service has closed the connection.
bool closedByPeer(int fd)
{
    pollfd p {fd, POLLIN, 0};
    char byte = 0;
    return ::poll(&p, 1, 0) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT
private slots:
    void formats_data();
    void formats();
    void hangingUpstream();
    void oversizedAnswer();
    void loopbackReferralRefused();
    void badRequests_data();
    void badRequests();
    void clients_data();
    void clients();
    void crowds_data();
    void crowds();
    void stopAnswersEveryone();
    void sitePages();
};

void TestService::formats_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("query"); // what a registry or registrar must have been asked
    QTest::addColumn<long>("status");
    QTest::addColumn<QStringList>("shown");
    const auto row = [](const char* name, const QString& typed, const char* query, long status,
                         const QStringList& shown) {
        QTest::newRow(name) << typed << QByteArray(query) << status << shown;
    };
    const QString no = "已保密";
    row(".com, thin registry, referral to the registrar", "www.Example-Shop.com",
        "example-shop.com", 200,
        {"Registrar" + kSpace + "One," + kSpace + "LLC", "Wang" + kSpace + "Xiaoming",
            "owner@example-shop.com", "1999-08-14 04:00:00", "2027-08-13 04:00:00"});
    row(".com, not registered", "free-name-42.com", "domain free-name-42.com", 200,
        {"", "该域名尚未注册", "", " ", " "});
    row(".org, redacted", "example-charity.org", "example-charity.org", 200,
        {"Registrar" + kSpace + "Two" + kSpace + "Ltd", no, no, "2003-05-21 16:40:02",
            "2028-05-21 16:40:02"});
    row(".org, rate-limited", "limited-charity.org", "limited-charity.org", 503,
        {"", "注册局限制了查询次数，请稍后再试", "", " ", " "});
    row("new gTLD, markers in values", "whois-tools.app", "whois-tools.app", 200,
        {"Whois" + kSpace + "Networks" + kSpace + "Co.," + kSpace + "Ltd.",
            "Sponsoring" + kSpace + "Tools" + kSpace + "Studio", no, "2018-05-08 15:12:33",
            "2027-05-08 15:12:33"});
    const QStringList cn = {"北京新网数码信息技术有限公司", "北京示例科技有限公司",
        "admin@example.com.cn", "2003-03-17 04:20:05", "2027-03-17 04:48:36"};
    row(".cn, host reduced to its domain", "www.example.com.cn", "example.com.cn", 200, cn);
    row(".cn, IDN", "中文.cn", "xn--fiq228c.cn", 200, cn);
    row(".uk", "www.example-garden.co.uk", "example-garden.co.uk", 200,
        {"Registrar" + kSpace + "Four" + kSpace + "Ltd" + kSpace + "t/a" + kSpace + "Four", no, no,
            "1996-08-26 00:00:00", "2027-08-26 00:00:00"});
    row(".jp, ISO-2022-JP", "example-kissa.jp", "example-kissa.jp/e", 200,
        {"", "喫茶店", no, "2001-01-29 00:00:00", "2027-01-31 00:00:00"});
    row(".de", "beispiel-laden.de", "-T dn,ace beispiel-laden.de", 200, {"", no, no, " ", " "});
    row(".de, free", "frei-und-offen.de", "-T dn,ace frei-und-offen.de", 200,
        {"", "该域名尚未注册", "", " ", " "});
    row(".ru", "primer-magazin.ru", "primer-magazin.ru", 200,
        {"REGRU-RU", "OOO" + kSpace + "\"Primer\"", no, "2005-03-01 12:00:00",
            "2027-03-01 21:00:00"});
    const QStringList none = {"", "这不是可以查询的域名", "", " ", " "};
    row("the box's initial text", "不要输入www.", "", 400, none);
    row("a TLD IANA does not know", "example.zzzz", "", 400, none);
}

void TestService::formats()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, query);
    QFETCH(long, status);
    QFETCH(QStringList, shown);
    FakeRegistries registries;
    WhoisService service(onLoopback(registries.settings()));
    const Answer answer = ask(service, typed);
    QCOMPARE(answer.shown, shown);
    QCOMPARE(answer.status, status);
    const auto asked = registries.whois.queries();
    QVERIFY(query.isEmpty() ? asked.empty() : std::count(asked.begin(), asked.end(), query) == 1);
}

void TestService::hangingUpstream()
{
    FakeRegistries registries;
    registries.iana.answer("test", ianaReferral("test", "whois.slow.test"));
    registries.slow.behave(FakeWhoisServer::Manner::Hang);
    ServiceSettings settings = onLoopback(registries.settings());
    settings.budget = std::chrono::milliseconds(800);
    WhoisService service(settings);
    const Answer answer = ask(service, "stuck.test");
    QCOMPARE(answer.status, 503L);
    QCOMPARE(answer.shown.at(1), QString("注册局暂时没有应答，请稍后再试"));
    QCOMPARE(registries.slow.queries().size(), size_t(1));
}

void TestService::oversizedAnswer()
{
    FakeRegistries registries;
    registries.iana.answer("test", ianaReferral("test", "whois.slow.test"));
    registries.slow.fallback(QByteArray(64 * 1024, 'x') + "\n");
    registries.slow.behave(FakeWhoisServer::Manner::Flood);
    WhoisService service(onLoopback(registries.settings()));
    QCOMPARE(ask(service, "flood.test").shown.at(1), QString("注册局暂时没有应答，请稍后再试"));
}

// IANA may name any server, the registry any registrar; none may lead the service to loopback.
// The refusal is by address alone: no test traffic goes anywhere but 127.0.0.0/8.
void TestService::loopbackReferralRefused()
{
    FakeRegistries registries;
    RegistrySettings settings = registries.settings();
    settings.allowLoopback = false; // the IANA server is the operator's choice, so still asked
    WhoisService service(onLoopback(settings));
    QCOMPARE(ask(service, "anything.test").shown.at(1), QString("注册局暂时没有应答，请稍后再试"));
    QCOMPARE(registries.iana.queries(), std::vector<QByteArray> {"test"});
    QVERIFY(registries.elsewhere.queries().empty());
}

void TestService::badRequests_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QList<QByteArray>>("headers");
    QTest::addColumn<long>("status");
    QTest::newRow("no domain") << "/cgi-bin/whois" << QByteArray("GET") << QList<QByteArray>()
                               << 400L;
    QTest::newRow("254 octets") << "/cgi-bin/whois?domain=" + QString(250, 'a') + ".com"
                                << QByteArray("GET") << QList<QByteArray>() << 400L;
    QTest::newRow("NUL and CR LF") << "/cgi-bin/whois?domain=a%00b%0D%0Ac.com" << QByteArray("GET")
                                   << QList<QByteArray>() << 400L;
    QTest::newRow("POST") << "/cgi-bin/whois?domain=a.com" << QByteArray("POST")
                          << QList<QByteArray>() << 405L;
    QTest::newRow("elsewhere") << "/etc/passwd" << QByteArray("GET") << QList<QByteArray>() << 404L;
    QTest::newRow("huge header") << "/" << QByteArray("GET")
                                 << QList<QByteArray> {"X-Filler: " + QByteArray(40000, 'x')}
                                 << 431L;
}

void TestService::badRequests()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, method);
    QFETCH(QList<QByteArray>, headers);
    QFETCH(long, status);
    FakeRegistries registries;
    WhoisService service(onLoopback(registries.settings()));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(service.port());
    QCOMPARE(httpRequest(base + path, method.constData(), headers).status, status);
    QVERIFY(registries.iana.queries().empty());
    QCOMPARE(httpRequest(base + "/").status, 200L); // and it goes on serving
}

void TestService::sitePages()
{
    FakeRegistries registries;
    WhoisService service(onLoopback(registries.settings()));
    ask(service, "www.example.com.cn");
    ask(service, "example.com.cn");
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(service.port());
    const QString banner = QString::fromUtf8(httpRequest(base + "/ad/ad2.html").body);
    QVERIFY2(banner.contains("已查询 2 次，其中 1 次来自缓存") && banner.contains("href=\"/\""),
        qPrintable(banner));
    QVERIFY(!banner.contains("<script", Qt::CaseInsensitive));
    const QString home = QString::fromUtf8(httpRequest(base + "/").body);
    QVERIFY(home.contains("GET /cgi-bin/whois?domain=") && home.contains("CNNIC"));
}

// Clients that would hold every connection: each gets its share and its request's deadline.
void TestService::clients_data()
{
    QTest::addColumn<int>("held"); // connections opened from 127.0.0.7 and kept
    QTest::addColumn<bool>("trickle"); // they send their request a byte at a time
    QTest::newRow("one address takes only its share") << 40 << false;
    QTest::newRow("a request sent a byte at a time is cut at its deadline") << 1 << true;
}

void TestService::clients()
{
    QFETCH(int, held);
    QFETCH(bool, trickle);
    FakeRegistries registries;
    ServiceSettings settings = onLoopback(registries.settings());
    settings.http.connections = 40;
    settings.http.perClient = 8;
    settings.http.requestSeconds = 1;
    WhoisService service(settings);
    std::vector<int> fds;
    for (int i = 0; i < held; ++i)
        fds.push_back(connectFrom("127.0.0.7", service.port()));
    const QString home = QStringLiteral("http://127.0.0.1:%1/").arg(service.port());
    QCOMPARE(httpRequest(home, "GET", {}, 5000).status, 200L);
    if (trickle) {
        const QByteArray request = "GET / HTTP/1.1\r\nHost: x\r\nX-Filler: " + QByteArray(100, 'x');
        int sent = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            ::send(fds[0], request.constData() + sent++ % request.size(), 1, MSG_NOSIGNAL) < 0
                || closedByPeer(fds[0]),
            5000);
    }
    for (int fd : fds)
        ::close(fd);
}

// Many look-ups at once, some under a misbehaving registry, then one more: the last is answered
// as it should be, and in its own time.
void TestService::crowds_data()
{
    QTest::addColumn<int>("manner"); // of whois.slow.test, the server of .test
    QTest::addColumn<QStringList>("crowd"); // asked at once first
    QTest::addColumn<QString>("forwardedFor"); // the crowd's client, behind a trusted proxy
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("budgetMs");
    QTest::addColumn<bool>("meanwhile"); // the probe is answered while the crowd waits
    QTest::addColumn<QString>("probe"); // "": the crowd's first failure, asked again
    QTest::addColumn<QString>("shown"); // the probe's registrar, or the state it shows
    const auto many = [](int n, const char* pattern) {
        QStringList domains;
        for (int i = 0; i < n; ++i)
            domains << QString::fromLatin1(pattern).arg(i);
        return domains;
    };
    const int hang = int(FakeWhoisServer::Manner::Hang);
    const int late = int(FakeWhoisServer::Manner::Late);
    const QString cn = "北京新网数码信息技术有限公司";
    QTest::newRow("a silent registry holds no worker")
        << hang << many(40, "silent-%1.test") << "" << 4 << 12000 << true << "example.com.cn" << cn;
    QTest::newRow("a queue behind a slow registry fails early and is not kept")
        << late << many(8, "queued-%1.test") << "" << 32 << 3000 << false << ""
        << "Slow" + kSpace + "Registrar";
    QTest::newRow("a full queue is the service's own limit")
        << hang << QStringList {"silent.test", "example.com.cn"} << "" << 1 << 12000 << true
        << "other.com.cn"
        << "注册局限制了查询次数，请稍后再试";
    QTest::newRow("one client spends only its share of an allowance")
        << late << many(20, "share-%1.com.cn") << "198.51.100.1" << 32 << 12000 << false
        << "example.com.cn" << cn;
}

void TestService::crowds()
{
    QFETCH(int, manner);
    QFETCH(QStringList, crowd);
    QFETCH(QString, forwardedFor);
    QFETCH(int, workers);
    QFETCH(int, budgetMs);
    QFETCH(bool, meanwhile);
    QFETCH(QString, probe);
    QFETCH(QString, shown);
    FakeRegistries registries;
    registries.iana.answer("test", ianaReferral("test", "whois.slow.test"));
    registries.slow.fallback("Registrar: Slow Registrar\nCreation Date: 2001-01-01T00:00:00Z\n");
    registries.slow.behave(FakeWhoisServer::Manner(manner));
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    ServiceSettings settings = onLoopback(registries.settings());
    settings.workers = workers;
    settings.queueLimit = workers;
    settings.budget = std::chrono::milliseconds(budgetMs);
    settings.registries.perMinute.registry = 20;
    settings.http.trustedProxies = {QHostAddress::LocalHost};
    WhoisService service(settings);
    const QString base
        = QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=").arg(service.port());
    const auto facts = [](const HttpGot& got) {
        QString page = decodeAnsi(got.body);
        const WhoisFacts read = readWhoisPage(StripBlanks(page));
        return read.cop.isEmpty() ? read.truename : read.cop;
    };
    std::vector<QString> answers(size_t(crowd.size()));
    std::atomic<int> answered {0};
    std::atomic<bool> firstAnswered {false};
    std::vector<std::thread> clients;
    const auto joinAll = [&] {
        for (std::thread& client : clients)
            if (client.joinable())
                client.join();
    };
    const auto joined = qScopeGuard(joinAll);
    for (qsizetype i = 0; i < crowd.size(); ++i) {
        clients.emplace_back([&, i] {
            const QList<QByteArray> headers = forwardedFor.isEmpty()
                ? QList<QByteArray>()
                : QList<QByteArray> {"X-Forwarded-For: " + forwardedFor.toLatin1()};
            answers[size_t(i)] = facts(httpRequest(base + crowd[i], "GET", headers));
            ++answered;
            firstAnswered = firstAnswered || i == 0;
        });
        // Each is let in before the next comes: held, or already answered.
        QTRY_VERIFY(service.status().cached + answered >= i + 1);
    }
    if (!meanwhile) {
        joinAll();
        if (probe.isEmpty()) {
            const auto failed = std::find_if(answers.begin(), answers.end(),
                [&](const QString& answer) { return answer != shown; });
            QVERIFY(failed != answers.end());
            probe = crowd[qsizetype(failed - answers.begin())];
        }
    }
    const QList<QByteArray> other {"X-Forwarded-For: 198.51.100.2"};
    QCOMPARE(facts(httpRequest(base + probe, "GET", other)), shown);
    if (meanwhile) // while the first of the crowd still waits for its server
        QVERIFY(!firstAnswered);
}

// Stopping answers every waiting client at once, whatever its look-up is waiting for.
void TestService::stopAnswersEveryone()
{
    FakeRegistries registries;
    registries.iana.answer("test", ianaReferral("test", "whois.slow.test"));
    registries.slow.behave(FakeWhoisServer::Manner::Hang);
    auto service = std::make_unique<WhoisService>(onLoopback(registries.settings()));
    Answer answers[2];
    std::thread first([&] { answers[0] = ask(*service, "stuck-1.test"); });
    QTRY_COMPARE(registries.slow.queries().size(), size_t(1));
    std::thread second([&] { answers[1] = ask(*service, "stuck-2.test"); });
    QTRY_COMPARE(service->status().cached, 2); // both waiting
    QElapsedTimer clock;
    clock.start();
    service.reset();
    const qint64 took = clock.elapsed();
    first.join();
    second.join();
    for (const Answer& answer : answers)
        QCOMPARE(answer.shown.at(1), QString("注册局暂时没有应答，请稍后再试"));
    QVERIFY2(took < 1000, qPrintable(QString::number(took)));
}

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
