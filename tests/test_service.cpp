// The whois service end to end over real protocols: fake IANA, registry and registrar servers
// on 127.0.0.x speaking port-43 whois, the service answering HTTP on loopback, and every page
// read back as the window reads it; upstream faults; and the service under load.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtTest>

#include "whoispage/cut.h"
#include "whoispage/whois.h"
#include "support/fakeregistries.h"

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
    void upstreamFaults_data();
    void upstreamFaults();
    void registrarFaults_data();
    void registrarFaults();
    void ianaAnswers_data();
    void ianaAnswers();
    void badRequests_data();
    void badRequests();
    void clients_data();
    void clients();
    void crowds_data();
    void crowds();
    void underLoad();
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
            "owner@example-shop.com", "1999-08-14 12:00:00", "2027-08-13 12:00:00"});
    row(".com, not registered", "free-name-42.com", "domain free-name-42.com", 200,
        {"", kFree, "", " ", " "});
    row(".org, redacted", "example-charity.org", "example-charity.org", 200,
        {"Registrar" + kSpace + "Two" + kSpace + "Ltd", no, no, "2003-05-22 00:40:02",
            "2028-05-22 00:40:02"});
    row(".org, rate-limited", "limited-charity.org", "limited-charity.org", 503,
        {"", kLimited, "", " ", " "});
    row("new gTLD, markers in values", "whois-tools.app", "whois-tools.app", 200,
        {"Whois" + kSpace + "Networks" + kSpace + "Co.," + kSpace + "Ltd.",
            "Sponsoring" + kSpace + "Tools" + kSpace + "Studio", no, "2018-05-08 23:12:33",
            "2027-05-08 23:12:33"});
    const QStringList cn = {"北京新网数码信息技术有限公司", "北京示例科技有限公司",
        "admin@example.com.cn", "2003-03-17 12:20:05", "2027-03-17 12:48:36"};
    row(".cn, host reduced to its domain", "www.example.com.cn", "example.com.cn", 200, cn);
    row(".uk", "www.example-garden.co.uk", "example-garden.co.uk", 200,
        {"Registrar" + kSpace + "Four" + kSpace + "Ltd" + kSpace + "t/a" + kSpace + "Four", no, no,
            "1996-08-26 00:00:00", "2027-08-26 00:00:00"});
    row(".jp, ISO-2022-JP", "example-kissa.jp", "example-kissa.jp/e", 200,
        {"", "喫茶店", "info@example-kissa.jp", "2001-01-29 00:00:00", "2027-01-31 00:00:00"});
    row(".de", "beispiel-laden.de", "-T dn,ace beispiel-laden.de", 200, {"", no, no, " ", " "});
    row(".de, free", "frei-und-offen.de", "-T dn,ace frei-und-offen.de", 200,
        {"", kFree, "", " ", " "});
    row(".ru", "primer-magazin.ru", "primer-magazin.ru", 200,
        {"REGRU-RU", "OOO" + kSpace + "\"Primer\"", no, "2005-03-01 20:00:00",
            "2027-03-02 05:00:00"});
    row(".com, registrar answering in GBK, not in the charset table", "example-gbk.com",
        "example-gbk.com", 200,
        {"Registrar" + kSpace + "GBK" + kSpace + "Ltd", "张伟", "zhangwei@example-gbk.com",
            "2006-03-02 16:15:00", "2027-03-02 16:15:00"});
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

void TestService::upstreamFaults_data()
{
    QTest::addColumn<QByteArray>("server"); // the .cn whois server IANA names
    QTest::addColumn<bool>("inTests"); // --allow-loopback-upstreams
    QTest::addColumn<FakeServer::Response>("answer"); // that server's, for every query
    QTest::addColumn<QString>("shown"); // the registrant line
    const auto row = [](const char* name, const char* server, bool inTests, const QByteArray& body,
                         Manner manner, const QString& shown) {
        FakeServer::Response answer {200, body};
        answer.manner = manner;
        QTest::newRow(name) << QByteArray(server) << inTests << answer << shown;
    };
    QByteArray garbage(4096, Qt::Uninitialized);
    for (char& c : garbage)
        c = char(QRandomGenerator::global()->bounded(256));
    const QByteArray cnnic = whoisFixture("cnnic-cn.txt");
    row("garbage", "whois.slow.test", true, garbage, Manner::Answer, kUnavailable);
    row("closes mid-answer", "whois.slow.test", true, cnnic.left(150), Manner::Answer,
        "北京示例科技有限公司");
    row("trickles past the budget", "whois.slow.test", true, cnnic, Manner::Trickle, kUnavailable);
    row("floods past 1 MiB", "whois.slow.test", true, QByteArray(64 * 1024, 'x') + "\n",
        Manner::Flood, kUnavailable);
    // IANA may name any server, a registry any registrar: none may lead the service to loopback,
    // refused by the address alone. IANA itself is the operator's choice, so still asked.
    row("referral to loopback", "127.0.0.1", false, cnnic, Manner::Answer, kUnavailable);
}

void TestService::upstreamFaults()
{
    QFETCH(QByteArray, server);
    QFETCH(bool, inTests);
    QFETCH(FakeServer::Response, answer);
    QFETCH(QString, shown);
    FakeRegistries registries;
    registries.iana.answer("cn", ianaReferral("cn", server.constData()));
    registries.slow.fallback(answer);
    registries.elsewhere.fallback(answer);
    ServiceSettings settings = registries.service();
    settings.registries.allowLoopback = inTests;
    settings.budget = std::chrono::seconds(1);
    WhoisService service(settings);
    const Answer got = ask(service, "example.com.cn");
    QCOMPARE(got.shown.at(1), shown);
    QCOMPARE(got.status, shown == kUnavailable ? 503L : 200L);
    QCOMPARE(registries.iana.queries(), std::vector<QByteArray> {"cn"});
    QVERIFY(registries.elsewhere.queries().empty());
}

// A thin registry's answer whose registrar cannot be asked: the registry's facts, registrant and
// e-mail left empty (not known is not withheld), kept only as long as a failure.
void TestService::registrarFaults_data()
{
    QTest::addColumn<QString>("registrar"); // where its name leads; empty: nowhere
    QTest::newRow("unreachable") << "127.0.0.3:1";
    QTest::newRow("refused by address") << "10.1.2.3:43";
    QTest::newRow("hangs") << "127.0.0.4";
    QTest::newRow("no address") << "";
}

void TestService::registrarFaults()
{
    QFETCH(QString, registrar);
    FakeRegistries registries;
    FakeServer::Response hang;
    hang.manner = Manner::Hang;
    registries.slow.fallback(hang);
    ServiceSettings settings = registries.service();
    settings.budget = std::chrono::seconds(1);
    const Resolver resolve = settings.registries.resolve;
    settings.registries.resolve = [&](const QString& host, quint16 port, Deadline deadline) {
        if (host != "whois.registrar-one.test")
            return resolve(host, port, deadline);
        const quint16 at = registrar.section(u':', 1).toUShort();
        return registrar.isEmpty()
            ? std::vector<Endpoint> {}
            : std::vector<Endpoint> {
                {QHostAddress(registrar.section(u':', 0, 0)), at ? at : registries.slow.port()}};
    };
    WhoisService service(settings);
    const Answer got = ask(service, "example-shop.com");
    QCOMPARE(got.status, 200L);
    QCOMPARE(got.shown,
        (QStringList {"Registrar" + kSpace + "One," + kSpace + "LLC", "", "", "1999-08-14 12:00:00",
            "2027-08-13 12:00:00"}));
    QVERIFY2(QRegularExpression("max-age=(29|30)\\r\\n").match(got.headers).hasMatch(),
        got.headers.constData());
}

// What IANA says of a TLD: only its "0 objects" means no such TLD (kept a day); any other answer
// without a domain line is a failure, kept as one (30 s). A TLD the public suffix list does not
// know is no domain, and costs nobody a query.
void TestService::ianaAnswers_data()
{
    QTest::addColumn<QString>("tld");
    QTest::addColumn<QByteArray>("iana"); // its answer for the TLD
    QTest::addColumn<long>("status");
    QTest::addColumn<int>("maxAge");
    QTest::addColumn<int>("asked"); // IANA's queries, a look-up at once and one 31 s later
    const QByteArray unknown = whoisFixture("iana-unknown.txt");
    QTest::newRow("0 objects") << "top" << unknown << 400L << 3600 << 1;
    QTest::newRow("a rate-limit text")
        << "top" << QByteArray("% Query rate limit exceeded. Try again later.\n") << 503L << 30
        << 2;
    QTest::newRow("empty") << "top" << QByteArray() << 503L << 30 << 2;
    QTest::newRow("cut short") << "top" << whoisFixture("iana-com.txt").left(120) << 503L << 30
                               << 2;
    QTest::newRow("unknown to the public suffix list") << "zzzz" << unknown << 400L << 3600 << 0;
}

void TestService::ianaAnswers()
{
    QFETCH(QString, tld);
    QFETCH(QByteArray, iana);
    QFETCH(long, status);
    QFETCH(int, maxAge);
    QFETCH(int, asked);
    FakeRegistries registries;
    registries.iana.answer(tld.toLatin1(), iana);
    WhoisService service(registries.service());
    const Answer got = ask(service, "example." + tld);
    QCOMPARE(got.status, status);
    const auto age = QRegularExpression("max-age=(\\d+)").match(got.headers).captured(1).toInt();
    QVERIFY2(age <= maxAge && age >= maxAge - 1, got.headers.constData());
    QCOMPARE(ask(service, "other." + tld).status, status);
    QCOMPARE(registries.iana.queries().size(), size_t(std::min(asked, 1)));
    registries.clockAhead = 31;
    QCOMPARE(ask(service, "third." + tld).status, status);
    QCOMPARE(registries.iana.queries().size(), size_t(asked));
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

// Clients that would hold every connection: each address gets its share, a request its deadline.
void TestService::clients_data()
{
    QTest::addColumn<int>("held"); // connections opened from 127.0.0.7 and kept
    QTest::addColumn<bool>("trickle"); // the first sends its request a byte at a time
    QTest::newRow("one address takes only its share") << 40 << false;
    QTest::newRow("a request sent a byte at a time is cut at its deadline") << 1 << true;
}

void TestService::clients()
{
    QFETCH(int, held);
    QFETCH(bool, trickle);
    FakeRegistries registries;
    ServiceSettings settings = registries.service();
    settings.http.connections = 40;
    settings.http.perClient = 8;
    settings.http.requestSeconds = 1;
    WhoisService service(settings);
    std::vector<int> fds;
    const auto closeAll = qScopeGuard([&fds] {
        for (int fd : fds)
            ::close(fd);
    });
    for (int i = 0; i < held; ++i)
        fds.push_back(connectFrom("127.0.0.7", service.port()));
    const QString home = QStringLiteral("http://127.0.0.1:%1/").arg(service.port());
    QCOMPARE(httpRequest(home, "GET", {}, 5000).status, 200L);
    if (trickle) {
        const QByteArray request = "GET / HTTP/1.1\r\nX-Filler: " + QByteArray(100, 'x');
        int sent = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            ::send(fds[0], request.constData() + sent++ % request.size(), 1, MSG_NOSIGNAL) < 0
                || closedByPeer(fds[0]),
            5000);
    }
}

// A crowd of look-ups at once, under a misbehaving registry or from one client, then one more
// look-up from another client, or the service stopping: each answered as it should be, and in
// its own time.
void TestService::crowds_data()
{
    QTest::addColumn<int>("manner"); // of whois.slow.test, the server of .xyz
    QTest::addColumn<QStringList>("crowd"); // asked at once, first
    QTest::addColumn<QString>("client"); // the crowd's, behind a trusted proxy
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("budgetMs");
    QTest::addColumn<bool>("meanwhile"); // the probe is answered while the crowd waits
    QTest::addColumn<QString>("probe"); // "": the crowd's first failure, asked again; "stop"
    QTest::addColumn<QString>("shown"); // the probe's registrar, or the state it shows
    const auto many = [](int n, const char* pattern) {
        QStringList domains;
        for (int i = 0; i < n; ++i)
            domains << QString::fromLatin1(pattern).arg(i);
        return domains;
    };
    const int hang = int(Manner::Hang);
    const int late = int(Manner::Late);
    const QString cn = "北京新网数码信息技术有限公司";
    QTest::newRow("a silent registry holds no worker")
        << hang << many(40, "silent-%1.xyz") << "" << 1 << 12000 << true << "example.com.cn" << cn;
    QTest::newRow("a queue behind a slow registry fails early and is not kept")
        << late << many(8, "queued-%1.xyz") << "" << 32 << 3000 << false << ""
        << "Slow" + kSpace + "Registrar";
    QTest::newRow("a full queue is the service's own limit") // no worker, no room to wait
        << hang << QStringList() << "" << 0 << 2000 << true << "other.com.cn" << kLimited;
    QTest::newRow("one client spends only its share of an allowance")
        << late << many(20, "share-%1.com.cn") << "198.51.100.1" << 32 << 12000 << false
        << "example.com.cn" << cn;
    QTest::newRow("stopping answers every waiting client at once")
        << hang << QStringList {"stuck-1.xyz", "stuck-2.xyz"} << "" << 32 << 2000 << true << "stop"
        << kUnavailable;
}

void TestService::crowds()
{
    QFETCH(int, manner);
    QFETCH(QStringList, crowd);
    QFETCH(QString, client);
    QFETCH(int, workers);
    QFETCH(int, budgetMs);
    QFETCH(bool, meanwhile);
    QFETCH(QString, probe);
    QFETCH(QString, shown);
    FakeRegistries registries;
    registries.iana.answer("xyz", ianaReferral("xyz", "whois.slow.test"));
    FakeServer::Response slow {200, "Registrar: Slow Registrar\nCreation Date: 2001-01-01\n"};
    slow.manner = Manner(manner);
    registries.slow.fallback(slow);
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    ServiceSettings settings = registries.service();
    settings.workers = workers;
    settings.queueLimit = workers;
    settings.budget = std::chrono::milliseconds(budgetMs);
    settings.registries.perMinute.registry = 20;
    settings.http.trustedProxies = {QHostAddress::LocalHost};
    auto service = std::make_unique<WhoisService>(settings);
    const QString base
        = QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=").arg(service->port());
    const auto facts = [](const HttpGot& got) {
        QString page = decodeAnsi(got.body);
        const WhoisFacts read = readWhoisPage(stripBlanks(page));
        return read.cop.isEmpty() ? read.truename : read.cop;
    };
    std::vector<QString> answers(size_t(crowd.size()));
    std::atomic<int> answered {0};
    std::atomic<bool> firstAnswered {false};
    std::vector<std::thread> clients;
    const auto joinAll = [&] {
        for (std::thread& thread : clients)
            if (thread.joinable())
                thread.join();
    };
    // Stopping the service answers whoever still waits, so the crowd need not sit out its budget.
    const auto joined = qScopeGuard([&] {
        service.reset();
        joinAll();
    });
    for (qsizetype i = 0; i < crowd.size(); ++i) {
        clients.emplace_back([&, i] {
            const QList<QByteArray> headers = client.isEmpty()
                ? QList<QByteArray>()
                : QList<QByteArray> {"X-Forwarded-For: " + client.toLatin1()};
            answers[size_t(i)] = facts(httpRequest(base + crowd[i], "GET", headers));
            ++answered;
            firstAnswered = firstAnswered || i == 0;
        });
        // Each is let in before the next comes: held, or already answered.
        QTRY_VERIFY(service->status().cached + answered >= i + 1);
    }
    if (probe == "stop") {
        QElapsedTimer clock;
        clock.start();
        service.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        joinAll();
        for (const QString& answer : answers)
            QCOMPARE(answer, shown);
        return;
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

// Idle clients and clients sending their request a byte at a time hold connections while slow
// look-ups queue for two workers: the event threads are never held, so the home page is answered
// meanwhile, and every look-up is answered within its budget.
void TestService::underLoad()
{
    FakeRegistries registries;
    registries.iana.answer("xyz", ianaReferral("xyz", "whois.slow.test"));
    FakeServer::Response late {200, "Registrar: Slow Registrar\n"};
    late.manner = Manner::Late;
    registries.slow.fallback(late);
    ServiceSettings settings = registries.service();
    settings.workers = 2;
    settings.budget = std::chrono::milliseconds(1500);
    settings.http.perClient = 1000; // one address stands for many clients here
    WhoisService service(settings);

    std::vector<int> held(200);
    for (int& fd : held) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at {AF_INET, htons(service.port()), {htonl(INADDR_LOOPBACK)}, {}};
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    }
    const QByteArray request
        = "GET /cgi-bin/whois?domain=example.com.cn HTTP/1.1\r\nX: " + QByteArray(4096, 'x');
    std::vector<qint64> took(12, -1);
    std::atomic<size_t> finished {0};
    struct Joined : std::vector<std::thread>
    {
        ~Joined()
        {
            for (std::thread& thread : *this)
                thread.join();
        }
    } threads;
    for (size_t i = 0; i < took.size(); ++i) {
        threads.emplace_back([&, i] {
            QElapsedTimer clock;
            clock.start();
            if (ask(service, QStringLiteral("slow-%1.xyz").arg(i)).status != 0)
                took[i] = clock.elapsed();
            ++finished;
        });
    }
    threads.emplace_back([&] { // half of the held ones send a byte every 10 ms
        for (qsizetype at = 0; finished < took.size(); at = std::min(at + 1, request.size() - 1)) {
            for (size_t i = 1; i < held.size(); i += 2)
                ::send(held[i], request.constData() + at, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    QTRY_VERIFY(!registries.slow.queries().empty()); // a look-up under way, the rest queued
    const QString home = QStringLiteral("http://127.0.0.1:%1/").arg(service.port());
    QCOMPARE(httpRequest(home, "GET", {}, 500).status, 200L);
    QTRY_COMPARE(finished.load(), took.size());
    for (int fd : held)
        ::close(fd);
    for (qint64 ms : took)
        QVERIFY2(ms >= 0 && ms < 1500 + 500, qPrintable(QString::number(ms)));
}

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
