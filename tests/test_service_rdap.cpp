// The service at full strength: RDAP from IANA's bootstrap registry with port 43 behind it, the
// shared cache, one upstream look-up for clients asking at once, and the polite limits. Fake
// RDAP servers of the shared fake registries.
#include <QtTest>

#include "support/fakeregistries.h"

namespace {

// Once the bootstrap registry is in: any look-up starts its fetch.
void bootstrap(WhoisService& service, FakeRegistries& upstream)
{
    ask(service, "warm.cn");
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(upstream.cache.filePath("dns.json")); }));
}

size_t upstreamQueries(const FakeRegistries& upstream)
{
    return upstream.rdap.targets().size() + upstream.registrar.targets().size()
        + upstream.whois.queries().size();
}

const QStringList kShop
    = {"Registrar" + kSpace + "One," + kSpace + "LLC", "Wang" + kSpace + "Xiaoming",
        "owner@example-shop.com", "1999-08-14 12:00:00", "2027-08-13 12:00:00"};
const QString kCharity = "Registrar" + kSpace + "Two" + kSpace + "Ltd";

} // namespace

class TestServiceRdap : public QObject
{
    Q_OBJECT
private slots:
    void lookUps_data();
    void lookUps();
    void bootstrapKept();
    void bootstrapAsItComes_data();
    void bootstrapAsItComes();
    void bootstrapClockStep();
    void cacheAnswersAgain();
    void oneUpstreamForClientsAtOnce();
    void limits_data();
    void limits();
};

void TestServiceRdap::lookUps_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("rdap"); // what the registry answers instead of its fixture
    QTest::addColumn<bool>("port43"); // whether port 43 was asked
    QTest::addColumn<QStringList>("shown");
    const QStringList charity
        = {kCharity, "已保密", "已保密", "2003-05-22 00:40:02", "2028-05-22 00:40:02"};
    QTest::newRow("thin registry, related registrar")
        << "www.example-shop.com" << QByteArray() << false << kShop;
    QTest::newRow("redacted registrant")
        << "example-charity.org" << QByteArray() << false << charity;
    QTest::newRow("not found") << "free-name-42.com" << QByteArray() << false
                               << QStringList {"", kFree, "", " ", " "};
    QTest::newRow("malformed, then port 43")
        << "example-charity.org" << QByteArray("{\"objectClassName\":") << true << charity;
    QTest::newRow("deeply nested, then port 43")
        << "example-charity.org" << QByteArray(200000, '[') << true << charity;
    QTest::newRow("server error, then port 43")
        << "example-charity.org" << QByteArray("500") << true << charity;
    QTest::newRow("a registrant name of 900,000 characters, cut")
        << "example-charity.org"
        << R"({"objectClassName":"domain","entities":[{"roles":["registrar"],"vcardArray":)"
           R"(["vcard",[["fn",{},"text","Registrar Two Ltd"]]]},{"roles":["registrant"],)"
           R"("vcardArray":["vcard",[["fn",{},"text",")"
            + QByteArray(900000, 'A') + R"("]]]}]})"
        << false << QStringList {kCharity, QString(256, u'A') + "…", "已保密", " ", " "};
    QTest::newRow("a TLD without RDAP")
        << "example.com.cn" << QByteArray() << true
        << QStringList {"北京新网数码信息技术有限公司", "北京示例科技有限公司",
               "admin@example.com.cn", "2003-03-17 12:20:05", "2027-03-17 12:48:36"};
}

void TestServiceRdap::lookUps()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, rdap);
    QFETCH(bool, port43);
    QFETCH(QStringList, shown);
    FakeRegistries upstream;
    if (rdap == "500")
        upstream.rdap.route("/rdap/domain/example-charity.org", {500, "oops"});
    else if (!rdap.isEmpty())
        upstream.rdap.route("/rdap/domain/example-charity.org", {200, rdap});
    WhoisService service(upstream.service(true));
    bootstrap(service, upstream);
    QCOMPARE(ask(service, typed).shown, shown);
    QCOMPARE(upstream.whois.queries().size() > 1, port43); // more than the warm-up's
}

// Fetched once, kept on disk, used by the next start even when IANA cannot be reached; fetched
// again once a day old.
void TestServiceRdap::bootstrapKept()
{
    FakeRegistries upstream;
    {
        WhoisService first(upstream.service(true));
        bootstrap(first, upstream);
        QCOMPARE(ask(first, "example-shop.com").shown, kShop);
    }
    upstream.rdap.route("/dns.json", {404, ""});
    const auto fetches = [&upstream] {
        const auto targets = upstream.rdap.targets();
        return std::count(targets.begin(), targets.end(), QByteArray("/dns.json"));
    };
    {
        WhoisService again(upstream.service(true));
        QCOMPARE(ask(again, "example-charity.org").shown.at(0), kCharity);
        QCOMPARE(fetches(), 1);
        QCOMPARE(upstream.whois.queries(), std::vector<QByteArray> {"warm.cn"});
    }
    QFile kept(upstream.cache.filePath("dns.json"));
    QVERIFY(kept.open(QIODevice::ReadWrite));
    kept.setFileTime(
        QDateTime::currentDateTimeUtc().addDays(-2), QFileDevice::FileModificationTime);
    kept.close();
    WhoisService later(upstream.service(true));
    ask(later, "example-charity.org");
    QTRY_COMPARE(fetches(), 2);
    QCOMPARE(ask(later, "example-shop.com").shown, kShop); // the old copy still serves
}

// A fresh service's first look-ups wait for the bootstrap registry within their time; every
// server it lists for a TLD is tried in turn; it is followed through redirects to https alone.
void TestServiceRdap::bootstrapAsItComes_data()
{
    QTest::addColumn<QString>("bootstrap");
    QTest::addColumn<bool>("port43"); // whether port 43 was asked
    QTest::newRow("still being fetched") << "slow" << false;
    QTest::newRow("first server failing") << "two servers" << false;
    QTest::newRow("redirected to http") << "redirect" << true;
}

void TestServiceRdap::bootstrapAsItComes()
{
    QFETCH(QString, bootstrap);
    QFETCH(bool, port43);
    FakeRegistries upstream;
    const QByteArray base = upstream.rdap.base().toUtf8();
    const auto registry = [](const QByteArray& servers) {
        return R"({"version":"1.0","services":[[["com","org"],[)" + servers + "]]]}";
    };
    FakeServer::Response dns {200, registry('"' + base + "/rdap/\"")};
    if (bootstrap == "slow") {
        dns.onRequest = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    } else if (bootstrap == "two servers") {
        upstream.rdap.route("/down/domain/example-charity.org", {500, "oops"});
        dns.body = registry('"' + base + "/down/\",\"" + base + "/rdap/\"");
    } else {
        upstream.rdap.route("/moved.json", dns);
        dns = {301, {}};
        dns.headers = {{"Location", base + "/moved.json"}};
    }
    upstream.rdap.route("/dns.json", dns);
    WhoisService service(upstream.service(true));
    QCOMPARE(ask(service, "example-charity.org").shown.at(0), kCharity);
    QCOMPARE(!upstream.whois.queries().empty(), port43);
    const auto targets = upstream.rdap.targets();
    QCOMPARE(std::count(targets.begin(), targets.end(), "/moved.json"), 0);
}

// The bootstrap's clock passes the time for another try while a fetch is under way, as a wall
// clock stepping would: a look-up then waits for that fetch, and none is started beside it.
void TestServiceRdap::bootstrapClockStep()
{
    std::atomic<int> ahead {0};
    FakeRegistries upstream;
    FakeServer::Response dns {200,
        R"({"version":"1.0","services":[[["org"],[")" + upstream.rdap.base().toUtf8()
            + R"(/rdap/"]]]})"};
    dns.onRequest = [&ahead] {
        ahead = 11 * 60;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    upstream.rdap.route("/dns.json", dns);
    RdapBootstrap bootstrap(upstream.rdap.base() + "/dns.json", upstream.cache.path(), true,
        [&ahead] { return Clock::now() + std::chrono::seconds(ahead); });
    const auto servers = [&bootstrap] {
        return bootstrap.serversFor("org", Clock::now() + std::chrono::seconds(5)).size();
    };
    std::thread first(servers);
    QTRY_COMPARE(ahead.load(), 11 * 60);
    QCOMPARE(servers(), qsizetype(1));
    first.join();
    QCOMPARE(upstream.rdap.targets().size(), size_t(1));
}

void TestServiceRdap::cacheAnswersAgain()
{
    FakeRegistries upstream;
    WhoisService service(upstream.service(true));
    bootstrap(service, upstream);
    QCOMPARE(ask(service, "example-shop.com").shown, kShop);
    const size_t queries = upstreamQueries(upstream);
    upstream.clockAhead = 14 * 60;
    const Answer again = ask(service, "WWW.Example-Shop.com"); // the same registrable domain
    QCOMPARE(again.shown, kShop);
    QCOMPARE(upstreamQueries(upstream), queries);
    QVERIFY2(again.headers.contains("Cache-Control: public, max-age="), again.headers.constData());
    upstream.clockAhead = 16 * 60; // a registered domain's page is kept for 15 minutes
    ask(service, "example-shop.com");
    QVERIFY(upstreamQueries(upstream) > queries);
}

void TestServiceRdap::oneUpstreamForClientsAtOnce()
{
    FakeRegistries upstream;
    WhoisService service(upstream.service(true));
    bootstrap(service, upstream);
    FakeServer::Response slow {200, rdapFixture("registry-org.json")};
    slow.onRequest = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    upstream.rdap.route("/rdap/domain/example-charity.org", slow);
    std::vector<std::thread> clients;
    std::vector<Answer> answers(8);
    for (Answer& answer : answers)
        clients.emplace_back([&] { answer = ask(service, "example-charity.org"); });
    for (std::thread& client : clients)
        client.join();
    const auto targets = upstream.rdap.targets();
    QCOMPARE(std::count(targets.begin(), targets.end(), "/rdap/domain/example-charity.org"), 1);
    for (const Answer& answer : answers)
        QCOMPARE(answer.shown.at(0), kCharity);
}

// The service's own limit per server: the next look-up there is answered at once, asking no one.
// A registry's 429 holds its RDAP off, an hour at most, while port 43 answers.
void TestServiceRdap::limits_data()
{
    QTest::addColumn<int>("perMinute"); // the service's allowance per server
    QTest::addColumn<int>("answered"); // look-ups answered before the limit: a lone client's half
    QTest::addColumn<FakeServer::Response>("busy"); // the registry's answer for busy.com
    QTest::addColumn<int>("wait"); // seconds until it may be asked again
    const auto tooMany = [](const QByteArray& retryAfter) {
        FakeServer::Response answer {429, "{}"};
        answer.headers = {{"Retry-After", retryAfter}};
        return answer;
    };
    const QByteArray inTwoMinutes = QDateTime::currentDateTimeUtc()
                                        .addSecs(120)
                                        .toString("ddd, dd MMM yyyy hh:mm:ss 'GMT'")
                                        .toLatin1();
    QTest::newRow("own limit") << 4 << 2 << FakeServer::Response {} << 61;
    QTest::newRow("429, Retry-After in seconds") << 1000 << 0 << tooMany("120") << 121;
    QTest::newRow("429, Retry-After as an HTTP date") << 1000 << 0 << tooMany(inTwoMinutes) << 121;
    QTest::newRow("429, Retry-After of three years") << 1000 << 0 << tooMany("99999999") << 3601;
}

void TestServiceRdap::limits()
{
    QFETCH(int, perMinute);
    QFETCH(int, answered);
    QFETCH(FakeServer::Response, busy);
    QFETCH(int, wait);
    FakeRegistries upstream;
    upstream.rdap.route("/rdap/domain/busy.com", busy);
    for (const char* query : {"domain busy.com", "domain next.com"})
        upstream.whois.answer(query, whoisFixture("verisign-notfound.txt"));
    ServiceSettings settings = upstream.service(true);
    settings.registries.perMinute = {perMinute, perMinute, perMinute};
    WhoisService service(settings);
    bootstrap(service, upstream);
    for (int i = 0; i < answered; ++i)
        QCOMPARE(ask(service, QStringLiteral("free-%1.com").arg(i)).shown.at(1), kFree);
    // Limited by the service itself (busy.com not asked), or held off by the registry's 429.
    const bool heldOff = busy.status == 429;
    for (const char* domain : {"busy.com", "next.com"}) {
        const size_t asked = upstream.rdap.targets().size();
        const Answer got = ask(service, domain);
        QCOMPARE(got.shown.at(1), heldOff ? kFree : kLimited);
        QCOMPARE(got.status, heldOff ? 200L : 503L);
        const bool first = qstrcmp(domain, "busy.com") == 0;
        QCOMPARE(upstream.rdap.targets().size(), asked + (first && heldOff ? 1 : 0));
    }
    QCOMPARE(upstream.whois.queries().size(), size_t(heldOff ? 3 : 1)); // warm.cn, and port 43
    upstream.clockAhead = wait;
    QCOMPARE(ask(service, "free-4.com").shown.at(1), kFree); // over RDAP again
}

QTEST_GUILESS_MAIN(TestServiceRdap)
#include "test_service_rdap.moc"
