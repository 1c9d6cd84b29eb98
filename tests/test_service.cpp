// The whois service end to end over real protocols: fake IANA, registry and registrar servers
// on 127.0.0.x speaking port-43 whois, the service answering HTTP on loopback, and every page
// read back as the window reads it.
#include <QtTest>

#include "support/fakeregistries.h"
#include "support/httpserver.h"

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
            "owner@example-shop.com", "1999-08-14 12:00:00", "2027-08-13 12:00:00"});
    row(".com, not registered", "free-name-42.com", "domain free-name-42.com", 200,
        {"", "该域名尚未注册", "", " ", " "});
    row(".org, redacted", "example-charity.org", "example-charity.org", 200,
        {"Registrar" + kSpace + "Two" + kSpace + "Ltd", no, no, "2003-05-22 00:40:02",
            "2028-05-22 00:40:02"});
    row(".org, rate-limited", "limited-charity.org", "limited-charity.org", 503,
        {"", "注册局限制了查询次数，请稍后再试", "", " ", " "});
    row("new gTLD, markers in values", "whois-tools.app", "whois-tools.app", 200,
        {"Whois" + kSpace + "Networks" + kSpace + "Co.," + kSpace + "Ltd.",
            "Sponsoring" + kSpace + "Tools" + kSpace + "Studio", no, "2018-05-08 23:12:33",
            "2027-05-08 23:12:33"});
    const QStringList cn = {"北京新网数码信息技术有限公司", "北京示例科技有限公司",
        "admin@example.com.cn", "2003-03-17 12:20:05", "2027-03-17 12:48:36"};
    row(".cn, host reduced to its domain", "www.example.com.cn", "example.com.cn", 200, cn);
    row(".cn, IDN", "中文.cn", "xn--fiq228c.cn", 200, cn);
    row(".uk", "www.example-garden.co.uk", "example-garden.co.uk", 200,
        {"Registrar" + kSpace + "Four" + kSpace + "Ltd" + kSpace + "t/a" + kSpace + "Four", no, no,
            "1996-08-26 00:00:00", "2027-08-26 00:00:00"});
    row(".jp, ISO-2022-JP", "example-kissa.jp", "example-kissa.jp/e", 200,
        {"", "喫茶店", "info@example-kissa.jp", "2001-01-29 00:00:00", "2027-01-31 00:00:00"});
    row(".de", "beispiel-laden.de", "-T dn,ace beispiel-laden.de", 200, {"", no, no, " ", " "});
    row(".de, free", "frei-und-offen.de", "-T dn,ace frei-und-offen.de", 200,
        {"", "该域名尚未注册", "", " ", " "});
    row(".ru", "primer-magazin.ru", "primer-magazin.ru", 200,
        {"REGRU-RU", "OOO" + kSpace + "\"Primer\"", no, "2005-03-01 20:00:00",
            "2027-03-02 05:00:00"});
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

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
