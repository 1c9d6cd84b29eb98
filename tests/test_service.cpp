// The whois service end to end over real protocols: fake IANA, registry and registrar servers
// on 127.0.0.x speaking port-43 whois, the service answering HTTP on loopback, and every page
// read back as the window reads it; upstream faults; and the service under load.
#include <functional>
#include <thread>

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QtTest>

#include "support/fakeregistries.h"

// What a row changes of the fake registries and the service's settings.
using Tune = std::function<void(FakeRegistries&, ServiceSettings&)>;
Q_DECLARE_METATYPE(Tune)

class TestService : public QObject
{
    Q_OBJECT
private slots:
    void formats_data();
    void formats();
    void faults_data();
    void faults();
    void requests_data();
    void requests();
    void silentRegistryHoldsNoThread();
    void queuedLookUpsEndWithinBudget();
    void fullQueueIsOwnLimit();
    void clientSpendsOnlyItsShare();
    void clientsByNetwork();
    void stopAnswersEveryoneAtOnce();
    void silentNameServer_data();
    void silentNameServer();
};

void TestService::formats_data()
{
    QTest::addColumn<QStringList>("row"); // typed, query, status and the five facts shown
    for (const QStringList& row : tableOf("formats.tsv"))
        QTest::newRow(qPrintable(row[0])) << row.mid(1);
}

void TestService::formats()
{
    QFETCH(QStringList, row);
    FakeRegistries registries;
    const Answer answer = registries.lookUp(row[0]);
    QCOMPARE(answer.shown, row.mid(3));
    QCOMPARE(answer.status, row[2].toLong());
    QCOMPARE(registries.whois.asked(row[1].toUtf8()), 1);
}

// Upstreams that fail: a registry's server, a registrar a thin registry names, and IANA.
void TestService::faults_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Tune>("tune");
    QTest::addColumn<long>("status");
    QTest::addColumn<QStringList>("shown"); // empty: not compared
    QTest::addColumn<int>("maxAge");
    QTest::addColumn<int>("iana"); // its queries after two more look-ups, the second 31 s later
    const auto row = [](const char* name, const char* typed, const Tune& tune, long status,
                         const QStringList& shown, int maxAge, int iana = -1) {
        QTest::newRow(name) << QString(typed) << tune << status << shown << maxAge << iana;
    };
    const auto cnAnswers = [](const QByteArray& body, Manner manner) -> Tune {
        return [=](FakeRegistries& registries, ServiceSettings&) {
            registries.whois.route("example.com.cn", {200, body, true, false, manner});
        };
    };
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char(i * 7919 % 251);
    const QByteArray cnnic = whoisFixture("cnnic-cn.txt");
    const QStringList unavailable {"", kUnavailable, "", " ", " "};
    const char* cn = "example.com.cn";
    row("garbage", cn, cnAnswers(garbage, Manner::Answer), 503, unavailable, 30);
    row("closes mid-answer", cn, cnAnswers(cnnic.left(150), Manner::Answer), 200,
        {"", "北京示例科技有限公司", "已保密", " ", " "}, 900);
    row("trickles past the budget", cn, cnAnswers(cnnic, Manner::Trickle), 503, unavailable, 30);
    row("floods past 1 MiB", cn, cnAnswers(QByteArray(64 * 1024, 'x') + "\n", Manner::Flood), 503,
        unavailable, 30);
    // IANA may name any server, a registry any registrar: none may lead the service to loopback,
    // refused by the address alone. IANA itself is the operator's choice, so still asked.
    const Tune toLoopback = [](FakeRegistries& registries, ServiceSettings& settings) {
        registries.iana.answer("cn", ianaReferral("cn", "127.0.0.1"));
        settings.registries.allowLoopback = false;
    };
    row("referral to loopback", cn, toLoopback, 503, unavailable, 30, 1);

    // A thin registry's answer whose registrar cannot be asked: the registry's facts, registrant
    // and e-mail left empty (not known is not withheld), kept only as long as a failure.
    const auto registrarAt = [](const std::vector<Endpoint>& at) -> Tune {
        return [=](FakeRegistries& registries, ServiceSettings&) {
            registries.addresses["whois.registrar-one.test"] = at;
        };
    };
    const Tune registrarHangs = [](FakeRegistries& registries, ServiceSettings&) {
        registries.whois.route("example-shop.com", {200, {}, true, true});
    };
    QStringList thin = shownFor("www.Example-Shop.com");
    thin[1] = thin[2] = "";
    const char* shop = "example-shop.com";
    row("registrar unreachable", shop, registrarAt({{QHostAddress("127.0.0.3"), 1}}), 200, thin,
        30);
    row("registrar refused by address", shop, registrarAt({{QHostAddress("10.1.2.3"), 43}}), 200,
        thin, 30);
    row("registrar hangs", shop, registrarHangs, 200, thin, 30);
    row("registrar without address", shop, registrarAt({}), 200, thin, 30);

    // What IANA says of a TLD: only its "0 objects" means no such TLD (kept a day); any other
    // answer without a domain line is a failure, kept as one (30 s). A TLD the public suffix
    // list does not know is no domain, and costs nobody a query.
    const auto iana = [](const char* tld, const QByteArray& text) -> Tune {
        return [=](FakeRegistries& registries, ServiceSettings&) {
            registries.iana.answer(tld, text);
        };
    };
    const QByteArray unknown = whoisFixture("iana-unknown.txt");
    row("IANA: 0 objects", "example.top", iana("top", unknown), 400, {}, 3600, 1);
    row("IANA: empty", "example.top", iana("top", {}), 503, unavailable, 30, 2);
    row("IANA: cut short", "example.top", iana("top", whoisFixture("iana-com.txt").left(120)), 503,
        unavailable, 30, 2);
    row("unknown to the public suffix list", "example.zzzz", iana("zzzz", unknown), 400, {}, 3600,
        0);
    // A fault inside the service fails that look-up alone, and is not kept.
    const Tune broken = [](FakeRegistries& registries, ServiceSettings&) {
        registries.iana.answer("xyz", ianaReferral("xyz", "whois.broken.test"));
        registries.broken << "whois.broken.test";
    };
    row("a look-up that throws", "example.xyz", broken, 503, unavailable, 5);
}

void TestService::faults()
{
    QFETCH(QString, typed);
    QFETCH(Tune, tune);
    QFETCH(long, status);
    QFETCH(QStringList, shown);
    QFETCH(int, maxAge);
    QFETCH(int, iana);
    FakeRegistries registries;
    ServiceSettings settings = registries.service();
    settings.budget = std::chrono::seconds(1);
    tune(registries, settings);
    WhoisService service(settings);
    const Answer got = ask(service, typed);
    QCOMPARE(got.status, status);
    if (!shown.isEmpty())
        QCOMPARE(got.shown, shown);
    const int age = QRegularExpression("max-age=(\\d+)").match(got.headers).captured(1).toInt();
    QVERIFY2(age <= maxAge && age >= maxAge - 1, got.headers.constData());
    QVERIFY(registries.elsewhere.targets().empty());
    if (iana >= 0) {
        const QString tld = typed.section(u'.', -1);
        QCOMPARE(ask(service, "other." + tld).status, status);
        QCOMPARE(registries.iana.targets().size(), size_t(std::min(iana, 1)));
        registries.clockAhead = 31;
        QCOMPARE(ask(service, "third." + tld).status, status);
        QCOMPARE(registries.iana.targets().size(), size_t(iana));
    }
    if (settings.registries.allowLoopback)
        QCOMPARE(ask(service, "example-kissa.jp").status, 200L); // and it goes on
}

// Requests the service refuses, and clients that would hold every connection: each address gets
// its share, a request its deadline. Meanwhile others are served.
void TestService::requests_data()
{
    QTest::addColumn<QByteArray>("request"); // method and path
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<long>("status");
    QTest::addColumn<int>("held"); // connections opened first from 127.0.0.7, and kept
    QTest::addColumn<bool>("trickle"); // the first of them sends a request a byte at a time
    const auto row = [](const char* name, const QByteArray& request, long status,
                         const QByteArray& header = {}, int held = 0, bool trickle = false) {
        QTest::newRow(name) << request << header << status << held << trickle;
    };
    row("no domain", "GET /cgi-bin/whois", 400);
    row("254 octets", "GET /cgi-bin/whois?domain=" + QByteArray(250, 'a') + ".com", 400);
    row("NUL and CR LF", "GET /cgi-bin/whois?domain=a%00b%0D%0Ac.com", 400);
    row("POST", "POST /cgi-bin/whois?domain=a.com", 405);
    row("absolute form", "GET http://127.0.0.1/cgi-bin/whois?domain=example.com.cn", 200);
    row("elsewhere", "GET /etc/passwd", 404);
    row("huge header", "GET /", 431, "X-Filler: " + QByteArray(40000, 'x'));
    row("one address takes only its share", "GET /", 200, {}, 40);
    row("a request sent a byte at a time is cut at its deadline", "GET /", 200, {}, 1, true);
}

void TestService::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, header);
    QFETCH(long, status);
    QFETCH(int, held);
    QFETCH(bool, trickle);
    FakeRegistries registries;
    ServiceSettings settings = registries.service();
    settings.http.connections = 40;
    settings.http.perClient = 8;
    settings.http.requestSeconds = 1;
    WhoisService service(settings);
    std::list<QTcpSocket> sockets(static_cast<size_t>(held));
    for (QTcpSocket& socket : sockets) {
        socket.setProxy(QNetworkProxy::NoProxy); // straight to loopback, no proxy look-up
        socket.bind(QHostAddress("127.0.0.7"));
        socket.connectToHost(QHostAddress::LocalHost, service.port());
        QVERIFY(socket.waitForConnected(5000));
    }
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(service.port());
    const QList<QByteArray> headers = header.isEmpty() ? QList<QByteArray>() : QList {header};
    const QByteArray target = request.split(' ')[1];
    const bool absolute = target.startsWith("http://");
    QCOMPARE(httpRequest(base + (absolute ? QByteArray("/") : target), request.split(' ')[0],
                 headers, 5000, absolute ? target : QByteArray())
                 .status,
        status);
    QCOMPARE(registries.iana.targets().empty(), !absolute);
    QCOMPARE(httpRequest(base + "/").status, 200L); // and it goes on serving
    const QByteArray slowly = "GET / HTTP/1.1\r\nX-Filler: " + QByteArray(100, 'x');
    int sent = 0;
    if (trickle) {
        QTcpSocket& first = sockets.front();
        QTRY_VERIFY_WITH_TIMEOUT(first.write(slowly.mid(sent++ % slowly.size(), 1)) < 0
                || first.state() != QAbstractSocket::ConnectedState,
            5000);
    }
}

namespace {

// Look-ups asked at once, each from a thread of its own, each let in (held, or answered) before
// the next comes; stopping the service answers whoever still waits.
struct Crowd
{
    Crowd(
        std::unique_ptr<WhoisService>& service, int size, const std::function<QString(int)>& domain)
        : service(service), answers(size_t(size)), took(size_t(size))
    {
        for (int i = 0; i < size; ++i) {
            clients.emplace_back([this, i, name = domain(i)] {
                QElapsedTimer clock;
                clock.start();
                answers[size_t(i)] = shown(ask(*this->service, name));
                took[size_t(i)] = clock.elapsed();
                firstAnswered = firstAnswered || i == 0;
                ++answered;
            });
            QVERIFY(QTest::qWaitFor([&] { return service->status().cached + answered >= i + 1; }));
        }
    }
    ~Crowd()
    {
        service.reset();
        join();
    }
    void join()
    {
        for (std::thread& client : clients)
            if (client.joinable())
                client.join();
    }
    // The registrar, or where there is none the state shown in its place.
    static QString shown(const Answer& answer)
    {
        return answer.shown.at(0).isEmpty() ? answer.shown.at(1) : answer.shown.at(0);
    }

    std::unique_ptr<WhoisService>& service;
    std::vector<QString> answers;
    std::vector<qint64> took;
    std::atomic<int> answered {0};
    std::atomic<bool> firstAnswered {false};
    std::vector<std::thread> clients;
};

const QString kCnRegistrar = QStringLiteral("北京新网数码信息技术有限公司");

// The fake registries with .xyz served by whois.slow.test, answering in the manner given.
ServiceSettings slowXyz(FakeRegistries& registries, Manner manner)
{
    registries.iana.answer("xyz", ianaReferral("xyz", "whois.slow.test"));
    registries.slow.fallback(
        {200, "Registrar: Slow Registrar\nCreation Date: 2001-01-01\n", true, false, manner});
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    ServiceSettings settings = registries.service();
    settings.http.trustedProxies = {QHostAddress::LocalHost};
    return settings;
}

} // namespace

// Forty look-ups wait for a registry that never answers, on one thread: another look-up is
// answered meanwhile.
void TestService::silentRegistryHoldsNoThread()
{
    FakeRegistries registries;
    ServiceSettings settings = slowXyz(registries, Manner::Hang);
    settings.workers = 1;
    auto service = std::make_unique<WhoisService>(settings);
    Crowd crowd(service, 40, [](int i) { return QStringLiteral("crowd-%1.xyz").arg(i); });
    QCOMPARE(Crowd::shown(ask(*service, "example.com.cn")), kCnRegistrar);
    QVERIFY(!crowd.firstAnswered);
}

// Twelve look-ups for a registry taking a second each, within 1.5 s: each is answered within
// its budget, those whose turn could not come in time at once, and such a failure of the
// service's own making is not kept.
void TestService::queuedLookUpsEndWithinBudget()
{
    FakeRegistries registries;
    ServiceSettings settings = slowXyz(registries, Manner::Late);
    settings.budget = std::chrono::milliseconds(1500);
    auto service = std::make_unique<WhoisService>(settings);
    Crowd crowd(service, 12, [](int i) { return QStringLiteral("crowd-%1.xyz").arg(i); });
    crowd.join();
    for (qint64 ms : crowd.took)
        QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
    const auto failed = std::find(crowd.answers.begin(), crowd.answers.end(), kLimited);
    QVERIFY(failed != crowd.answers.end());
    const QString again = QStringLiteral("crowd-%1.xyz").arg(failed - crowd.answers.begin());
    QCOMPARE(Crowd::shown(ask(*service, again)), QStringLiteral("Slow　Registrar"));
}

// With no thread to run on and no room to wait for one, a look-up is told so at once.
void TestService::fullQueueIsOwnLimit()
{
    FakeRegistries registries;
    ServiceSettings settings = slowXyz(registries, Manner::Hang);
    settings.workers = 0;
    settings.queueLimit = 0;
    WhoisService service(settings);
    QCOMPARE(Crowd::shown(ask(service, "other.com.cn")), kLimited);
}

// One client's twenty look-ups under one registry spend only its share of the allowance: another
// client, behind a trusted proxy, is still served.
void TestService::clientSpendsOnlyItsShare()
{
    FakeRegistries registries;
    ServiceSettings settings = slowXyz(registries, Manner::Late);
    settings.registries.perMinute.registry = 20;
    auto service = std::make_unique<WhoisService>(settings);
    Crowd crowd(service, 20, [](int i) { return QStringLiteral("crowd-%1.com.cn").arg(i); });
    crowd.join();
    QCOMPARE(Crowd::shown(ask(*service, "example.com.cn", {"X-Forwarded-For: 198.51.100.2"})),
        kCnRegistrar);
}

// An IPv6 client is its /64: sixty addresses of one network are one client, and spend one
// share; a client of another network is served.
void TestService::clientsByNetwork()
{
    FakeRegistries registries;
    ServiceSettings settings = slowXyz(registries, Manner::Answer);
    settings.registries.perMinute.registry = 20;
    WhoisService service(settings);
    for (int i = 1; i <= 60; ++i)
        ask(service, QStringLiteral("d%1.com.cn").arg(i),
            {QStringLiteral("X-Forwarded-For: 2001:db8:1::%1").arg(i, 0, 16).toLatin1()});
    QCOMPARE(Crowd::shown(ask(service, "example.com.cn", {"X-Forwarded-For: 2001:db8:2::1"})),
        kCnRegistrar);
}

// Stopping with look-ups waiting for a silent registry answers every waiting client at once.
void TestService::stopAnswersEveryoneAtOnce()
{
    FakeRegistries registries;
    auto service = std::make_unique<WhoisService>(slowXyz(registries, Manner::Hang));
    Crowd crowd(service, 2, [](int i) { return QStringLiteral("crowd-%1.xyz").arg(i); });
    QElapsedTimer clock;
    clock.start();
    service.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    crowd.join();
    for (const QString& answer : crowd.answers)
        QCOMPARE(answer, kUnavailable);
}

// Names whose name server never answers: forty registrars' over port 43, or the registrar link
// of an RDAP answer. The look-ups waiting on them hold no thread and no transfer: others under
// other registries, over port 43 and over RDAP, are answered meanwhile.
void TestService::silentNameServer_data()
{
    QTest::addColumn<bool>("rdap");
    QTest::newRow("forty registrars' names") << false;
    QTest::newRow("an RDAP registrar link's name") << true;
}

void TestService::silentNameServer()
{
    QFETCH(bool, rdap);
    SilentNameServer dns;
    FakeRegistries registries;
    registries.iana.answer("xyz", ianaReferral("xyz", "whois.slow.test"));
    for (int i = 0; i < 40; ++i)
        registries.slow.answer(QStringLiteral("crowd-%1.xyz").arg(i).toUtf8(),
            QStringLiteral("Domain Name: crowd-%1.xyz\nRegistrar WHOIS Server: whois.r%1.dns.test\n"
                           "Registrar: Thin Registry Inc.\nCreation Date: 2001-01-01\n")
                .arg(i)
                .toUtf8());
    const QByteArray silentLink
        = rdapFixture("registry-com.json")
              .replace("{registry}", registries.rdap.base().toUtf8() + "/rdap/")
              .replace("{registrar}", "http://rdap.registrar.dns.test/rdap/");
    registries.rdap.answer("/rdap/domain/silent-link.com", silentLink);
    ServiceSettings settings = registries.service(true);
    settings.dnsServers = dns.server();
    settings.workers = 2;
    auto service = std::make_unique<WhoisService>(settings);
    QCOMPARE(ask(*service, "example-charity.org").status, 200L); // the bootstrap is had
    const auto domain = [rdap](int i) {
        return rdap ? QStringLiteral("silent-link.com") : QStringLiteral("crowd-%1.xyz").arg(i);
    };
    Crowd crowd(service, rdap ? 1 : 40, domain);
    QVERIFY(QTest::qWaitFor([&] { return !registries.slow.targets().empty() || rdap; }));
    QCOMPARE(Crowd::shown(ask(*service, "example.com.cn")), kCnRegistrar);
    QCOMPARE(
        Crowd::shown(ask(*service, "www.Example-Shop.com")), shownFor("www.Example-Shop.com")[0]);
    QVERIFY(!crowd.firstAnswered);
}

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
