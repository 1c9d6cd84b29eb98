// The service at full strength: RDAP from IANA's bootstrap registry with port 43 behind it, the
// shared cache, one upstream look-up for clients asking at once, and the polite limits. Fake
// RDAP servers on 127.0.0.5 (registry and bootstrap) and 127.0.0.6 (registrar).
#include <QtTest>

#include "support/fakeregistries.h"
#include "support/httpserver.h"

namespace {

QByteArray rdapFixture(const char* name)
{
    QFile file(QStringLiteral(RDAP_FIXTURES "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Rdap
{
    Rdap()
    {
        const QByteArray registryBase = registry.base().toUtf8() + "/rdap/";
        const QByteArray registrarBase = registrar.base().toUtf8() + "/rdap/";
        registry.route("/dns.json",
            {200, R"({"version":"1.0","services":[[["com","org"],[")" + registryBase + R"("]]]})"});
        registry.route("/rdap/domain/example-shop.com",
            {200,
                rdapFixture("registry-com.json")
                    .replace("{registry}", registryBase)
                    .replace("{registrar}", registrarBase)});
        registrar.route("/rdap/domain/EXAMPLE-SHOP.COM", {200, rdapFixture("registrar-com.json")});
        registry.route("/rdap/domain/example-charity.org", {200, rdapFixture("registry-org.json")});
    }

    // The service with RDAP, port 43 behind it, and a clock the test moves.
    ServiceSettings settings()
    {
        ServiceSettings settings = onLoopback(whois.settings());
        settings.rdapBootstrap = registry.base() + "/dns.json";
        settings.cacheDir = cache.path();
        settings.registries.now
            = [this] { return Clock::now() + std::chrono::seconds(clockAhead); };
        return settings;
    }
    // Asks once the bootstrap registry is in.
    Answer ask(WhoisService& service, const QString& typed)
    {
        if (!bootstrapped) {
            ::ask(service, "warm.cn"); // any look-up starts the fetch
            bootstrapped
                = QTest::qWaitFor([this] { return QFile::exists(cache.filePath("dns.json")); });
        }
        return ::ask(service, typed);
    }
    size_t upstreamQueries() const
    {
        return registry.targets().size() + registrar.targets().size()
            + whois.whois.queries().size();
    }

    FakeRegistries whois;
    TestHttpServer registry {"127.0.0.5"};
    TestHttpServer registrar {"127.0.0.6"};
    QTemporaryDir cache;
    std::atomic<int> clockAhead {0};
    bool bootstrapped = false;
};

const QStringList kShop
    = {"Registrar" + kSpace + "One," + kSpace + "LLC", "Wang" + kSpace + "Xiaoming",
        "owner@example-shop.com", "1999-08-14 12:00:00", "2027-08-13 12:00:00"};

} // namespace

class TestServiceRdap : public QObject
{
    Q_OBJECT
private slots:
    void lookUps_data();
    void lookUps();
    void bootstrapKept();
    void cacheAnswersAgain();
    void oneUpstreamForClientsAtOnce();
    void perServerLimit();
    void tooManyRequests();
};

void TestServiceRdap::lookUps_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("rdap"); // what the registry answers instead of its fixture
    QTest::addColumn<bool>("port43"); // whether port 43 was asked
    QTest::addColumn<QStringList>("shown");
    const QStringList charity = {"Registrar" + kSpace + "Two" + kSpace + "Ltd", "已保密", "已保密",
        "2003-05-22 00:40:02", "2028-05-22 00:40:02"};
    QTest::newRow("thin registry, related registrar")
        << "www.example-shop.com" << QByteArray() << false << kShop;
    QTest::newRow("redacted registrant")
        << "example-charity.org" << QByteArray() << false << charity;
    QTest::newRow("not found") << "free-name-42.com" << QByteArray() << false
                               << QStringList {"", "该域名尚未注册", "", " ", " "};
    QTest::newRow("malformed, then port 43")
        << "example-charity.org" << QByteArray("{\"objectClassName\":") << true << charity;
    QTest::newRow("deeply nested, then port 43")
        << "example-charity.org" << QByteArray(200000, '[') << true << charity;
    QTest::newRow("server error, then port 43")
        << "example-charity.org" << QByteArray("500") << true << charity;
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
    Rdap upstream;
    if (rdap == "500")
        upstream.registry.route("/rdap/domain/example-charity.org", {500, "oops"});
    else if (!rdap.isEmpty())
        upstream.registry.route("/rdap/domain/example-charity.org", {200, rdap});
    WhoisService service(upstream.settings());
    QCOMPARE(upstream.ask(service, typed).shown, shown);
    const size_t whoisQueries = upstream.whois.whois.queries().size() - 1; // less the warm-up's
    QCOMPARE(whoisQueries > 0, port43);
}

// Fetched once, kept on disk, used by the next start even when IANA cannot be reached; fetched
// again once a day old.
void TestServiceRdap::bootstrapKept()
{
    Rdap upstream;
    {
        WhoisService first(upstream.settings());
        QCOMPARE(upstream.ask(first, "example-shop.com").shown, kShop);
    }
    upstream.registry.route("/dns.json", {404, ""});
    const auto fetches = [&upstream] {
        const auto targets = upstream.registry.targets();
        return std::count(targets.begin(), targets.end(), QByteArray("/dns.json"));
    };
    {
        WhoisService again(upstream.settings());
        QCOMPARE(::ask(again, "example-charity.org").shown.at(0),
            "Registrar" + kSpace + "Two" + kSpace + "Ltd");
        QCOMPARE(fetches(), 1);
        QVERIFY(
            upstream.whois.whois.queries().empty() || upstream.whois.whois.queries().size() == 1);
    }
    QFile kept(upstream.cache.filePath("dns.json"));
    QVERIFY(kept.open(QIODevice::ReadWrite));
    kept.setFileTime(
        QDateTime::currentDateTimeUtc().addDays(-2), QFileDevice::FileModificationTime);
    kept.close();
    WhoisService later(upstream.settings());
    ::ask(later, "example-charity.org");
    QTRY_COMPARE(fetches(), 2);
    QCOMPARE(::ask(later, "example-shop.com").shown, kShop); // the old copy still serves
}

void TestServiceRdap::cacheAnswersAgain()
{
    Rdap upstream;
    WhoisService service(upstream.settings());
    QCOMPARE(upstream.ask(service, "example-shop.com").shown, kShop);
    const size_t queries = upstream.upstreamQueries();
    upstream.clockAhead = 14 * 60;
    const Answer again = ::ask(service, "WWW.Example-Shop.com"); // the same registrable domain
    QCOMPARE(again.shown, kShop);
    QCOMPARE(upstream.upstreamQueries(), queries);
    QVERIFY2(again.headers.contains("Cache-Control: public, max-age="), again.headers.constData());
    upstream.clockAhead = 16 * 60; // a registered domain's page is kept for 15 minutes
    ::ask(service, "example-shop.com");
    QVERIFY(upstream.upstreamQueries() > queries);
}

void TestServiceRdap::oneUpstreamForClientsAtOnce()
{
    Rdap upstream;
    WhoisService service(upstream.settings());
    upstream.ask(service, "warm.cn");
    TestHttpServer::Response slow {200, rdapFixture("registry-org.json")};
    slow.onRequest = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    upstream.registry.route("/rdap/domain/example-charity.org", slow);
    std::vector<std::thread> clients;
    std::vector<Answer> answers(8);
    for (Answer& answer : answers)
        clients.emplace_back([&] { answer = ::ask(service, "example-charity.org"); });
    for (std::thread& client : clients)
        client.join();
    const auto targets = upstream.registry.targets();
    QCOMPARE(std::count(targets.begin(), targets.end(), "/rdap/domain/example-charity.org"), 1);
    for (const Answer& answer : answers)
        QCOMPARE(answer.shown.at(0), "Registrar" + kSpace + "Two" + kSpace + "Ltd");
}

void TestServiceRdap::perServerLimit()
{
    Rdap upstream;
    ServiceSettings settings = upstream.settings();
    settings.registries.perServerPerMinute = 2;
    WhoisService service(settings);
    upstream.ask(service, "warm.cn");
    for (const char* domain : {"free-1.com", "free-2.com"})
        QCOMPARE(::ask(service, domain).shown.at(1), QString("该域名尚未注册"));
    const size_t asked = upstream.registry.targets().size();
    const Answer limited = ::ask(service, "free-3.com");
    QCOMPARE(limited.shown.at(1), QString("注册局限制了查询次数，请稍后再试"));
    QCOMPARE(limited.status, 503L);
    QCOMPARE(upstream.registry.targets().size(), asked); // not asked at all
    upstream.clockAhead = 61;
    QCOMPARE(::ask(service, "free-4.com").shown.at(1), QString("该域名尚未注册"));
}

void TestServiceRdap::tooManyRequests()
{
    Rdap upstream;
    WhoisService service(upstream.settings());
    upstream.ask(service, "warm.cn");
    TestHttpServer::Response busy {429, "{}"};
    busy.headers = {{"Retry-After", "120"}};
    upstream.registry.route("/rdap/domain/example-charity.org", busy);
    QCOMPARE(::ask(service, "example-charity.org").shown.at(1),
        QString("注册局限制了查询次数，请稍后再试"));
    const size_t asked = upstream.registry.targets().size();
    QCOMPARE(::ask(service, "free-5.com").shown.at(1), QString("注册局限制了查询次数，请稍后再试"));
    QCOMPARE(upstream.registry.targets().size(), asked);
    QVERIFY(upstream.whois.whois.queries().size() <= 1); // no fall back to port 43 either
    upstream.clockAhead = 121;
    QCOMPARE(::ask(service, "free-6.com").shown.at(1), QString("该域名尚未注册"));
}

QTEST_GUILESS_MAIN(TestServiceRdap)
#include "test_service_rdap.moc"
