// The whois service end to end over real protocols: fake IANA, registry and registrar servers
// on 127.0.0.x speaking port-43 whois, the service answering HTTP on loopback, and every page
// read back as the window reads it; upstream faults; and the service under load.
#include <functional>

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
    void crowds_data();
    void crowds();
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
    if (iana < 0)
        return;
    const QString tld = typed.section(u'.', -1);
    QCOMPARE(ask(service, "other." + tld).status, status);
    QCOMPARE(registries.iana.targets().size(), size_t(std::min(iana, 1)));
    registries.clockAhead = 31;
    QCOMPARE(ask(service, "third." + tld).status, status);
    QCOMPARE(registries.iana.targets().size(), size_t(iana));
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
    QCOMPARE(httpRequest(base + request.split(' ')[1], request.split(' ')[0], headers, 5000).status,
        status);
    QVERIFY(registries.iana.targets().empty());
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

// A crowd of look-ups at once, under a misbehaving registry or from one client, then one more
// look-up from another client, or the service stopping: each answered as it should be, and in
// its own time.
void TestService::crowds_data()
{
    QTest::addColumn<QStringList>("row");
    for (const QStringList& row : tableOf("crowds.tsv"))
        QTest::newRow(qPrintable(row[0])) << row.mid(1);
}

void TestService::crowds()
{
    QFETCH(QStringList, row);
    const Manner manner = row[0] == "hang" ? Manner::Hang : Manner::Late;
    const int crowd = row[1].toInt(), workers = row[3].toInt(), budgetMs = row[4].toInt();
    const QString under = row[2], shown = row[7];
    const bool meanwhile = row[5] == "true";
    QString probe = row[6];
    FakeRegistries registries;
    registries.iana.answer("xyz", ianaReferral("xyz", "whois.slow.test"));
    registries.slow.fallback(
        {200, "Registrar: Slow Registrar\nCreation Date: 2001-01-01\n", true, false, manner});
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    ServiceSettings settings = registries.service();
    settings.workers = workers;
    settings.queueLimit = workers ? 1000 : 0;
    settings.budget = std::chrono::milliseconds(budgetMs);
    settings.registries.perMinute.registry = 20;
    settings.http.trustedProxies = {QHostAddress::LocalHost};
    auto service = std::make_unique<WhoisService>(settings);
    const auto facts = [&service](const QString& domain, const QList<QByteArray>& headers = {}) {
        const Answer got = ask(*service, domain, headers);
        return got.shown.at(0).isEmpty() ? got.shown.at(1) : got.shown.at(0);
    };
    std::vector<QString> answers(static_cast<size_t>(crowd));
    std::vector<qint64> took(answers.size());
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
    const auto domain = [&under](int i) { return QStringLiteral("crowd-%1.").arg(i) + under; };
    for (int i = 0; i < crowd; ++i) {
        clients.emplace_back([&, i] {
            QElapsedTimer clock;
            clock.start();
            answers[size_t(i)] = facts(domain(i));
            took[size_t(i)] = clock.elapsed();
            ++answered;
            firstAnswered = firstAnswered || i == 0;
        });
        // Each is let in before the next comes: held, or already answered.
        QVERIFY(QTest::qWaitFor([&] { return service->status().cached + answered >= i + 1; }));
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
        for (qint64 ms : took)
            QVERIFY2(ms < budgetMs + 500, qPrintable(QString::number(ms)));
        if (probe.isEmpty()) {
            const auto failed = std::find_if(answers.begin(), answers.end(),
                [&](const QString& answer) { return answer != shown; });
            QVERIFY(failed != answers.end());
            probe = domain(int(failed - answers.begin()));
        }
    }
    // From another client, behind a trusted proxy.
    QCOMPARE(facts(probe, {"X-Forwarded-For: 198.51.100.2"}), shown);
    if (meanwhile) // while the first of the crowd still waits for its server
        QVERIFY(!firstAnswered);
}

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
