// The service's pure parts: typed text to a domain, registry dates, which addresses may be
// reached, and pages that must read back in the program exactly as meant.
#include <QNetworkInterface>
#include <QtTest>

#include "whoispage/cut.h"
#include "service/answercache.h"
#include "service/domainname.h"
#include "service/page.h"
#include "service/upstream.h"
#include "service/whoistext.h"

class TestServiceText : public QObject
{
    Q_OBJECT
private slots:
    void domain_data();
    void domain();
    void typedBytes();
    void dates_data();
    void dates();
    void addresses_data();
    void addresses();
    void page_data();
    void page();
    void cacheBoundInBytes();
};

void TestServiceText::domain_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("looked"); // empty: no domain name
    const auto row = [](const char* name, const QString& typed, const char* looked) {
        QTest::newRow(name) << typed << QString::fromLatin1(looked);
    };
    row("plain", "example.com", "example.com");
    row("blanks and case", QString::fromUtf16(u" \u3000Example.COM\t"), "example.com");
    row("host under a second-level suffix", "www.example.com.cn", "example.com.cn");
    row("pasted address", "http://www.Example.co.uk:8080/a?b=1#c", "example.co.uk");
    row("host, port and path", "shop.example.com:443/cart", "example.com");
    row("IDN", "中文.cn", "xn--fiq228c.cn");
    row("IDN host with trailing dot", "WWW.中文.CN.", "xn--fiq228c.cn");
    row("full-width dot (UTS 46)", "例子。中国", "xn--fsqu00a.xn--fiqs8s");
    row("initial text of the box", "不要输入www.", "");
    row("empty", "", "");
    row("a suffix alone", "com.cn", "");
    row("a TLD alone", "com", "");
    row("a TLD the public suffix list does not know", "shop.example.zzzz", "");
    row("empty label", "a..example.com", "");
    row("space inside", "exa mple.com", "");
    row("underscore", "ex_ample.com", "");
    row("too long", QString(250, u'a') + ".com", "");
}

void TestServiceText::domain()
{
    QFETCH(QString, typed);
    QFETCH(QString, looked);
    QCOMPARE(registrableDomain(typed).value_or(QString()), looked);
}

void TestServiceText::typedBytes()
{
    QCOMPARE(decodeTyped("\xe4\xb8\xad\xe6\x96\x87.cn"), QString("中文.cn")); // UTF-8
    QCOMPARE(decodeTyped("\xd6\xd0\xce\xc4.cn"), QString("中文.cn")); // GBK
}

void TestServiceText::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("zone"); // the registry's documented zone, minutes east of UTC; or none
    QTest::addColumn<QString>("shown"); // China Standard Time when the zone is known
    const int none = INT_MIN;
    const auto row = [](const char* text, int zone, const char* shown) {
        QTest::newRow(text) << text << zone << shown;
    };
    row("1999-08-14T04:00:00Z", none, "1999-08-14 12:00:00");
    row("2021-06-01t10:00:00z", none, "2021-06-01 18:00:00");
    row("2025-08-14T07:01:38+0000", none, "2025-08-14 15:01:38");
    row("2025-03-12T21:44:25+01:00", none, "2025-03-13 04:44:25");
    row("2010-08-10 16:43:38 +03:00", none, "2010-08-10 21:43:38");
    row("2020-01-01T00:30:00.0Z", 540, "2020-01-01 08:30:00");
    row("2003-03-17 12:20:05", 480, "2003-03-17 12:20:05");
    row("2013-04-21 01:05:35", none, "2013-04-21 01:05:35");
    row("2026/02/01 01:05:05 (JST)", none, "2026-02-01 00:05:05");
    row("2012-05-03 10:00:00 EST", none, "2012-05-03 23:00:00");
    row("2011-07-23 15:43:32 (BRT -03:00)", none, "2011-07-24 02:43:32");
    row("2019-04-28 04:04:23 CST", none, "2019-04-28 04:04:23");
    row("Record expires on 2027-06-10 14:37:15 (UTC+8)", none, "2027-06-10 14:37:15");
    row("2001/01/29", 540, "2001-01-29 00:00:00");
    row("2007. 03. 02.", none, "2007-03-02 00:00:00");
    row("20110630 #8516780", none, "2011-06-30 00:00:00");
    row("26-Aug-1996", none, "1996-08-26 00:00:00");
    row("30th April 2003", none, "2003-04-30 00:00:00");
    row("April 30, 2003", none, "2003-04-30 00:00:00");
    row("14-mar-2008 10:00:00 UTC", none, "2008-03-14 18:00:00");
    row("12.01.2005", none, "2005-01-12 00:00:00");
    row("since 30.04.1999", none, "1999-04-30 00:00:00");
    row("2021-02-30", none, "");
    row("before Aug-1996", none, "");
}

void TestServiceText::dates()
{
    QFETCH(QString, text);
    QFETCH(int, zone);
    QFETCH(QString, shown);
    LookupResult result;
    result.outcome = Outcome::Registered;
    result.record.created
        = parseWhoisDate(text, zone == INT_MIN ? std::nullopt : std::optional(zone));
    QCOMPARE(intendedFacts(result).bdate, shown.isEmpty() ? QString(" ") : shown);
}

void TestServiceText::addresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("inTests"); // --allow-loopback-upstreams
    QTest::addColumn<bool>("reached");
    const auto row = [](const char* address, bool inTests, bool reached) {
        QTest::newRow(qPrintable(QStringLiteral("%1%2").arg(address, inTests ? " (tests)" : "")))
            << address << inTests << reached;
    };
    row("199.7.83.42", false, true);
    row("2001:500:9f::42", false, true);
    row("127.0.0.1", false, false);
    row("127.0.0.1", true, true);
    row("127.3.4.5", true, true);
    row("::1", true, false);
    row("::ffff:127.0.0.1", false, false);
    row("169.254.169.254", true, false);
    row("100.64.0.1", true, false);
    row("0.0.0.0", true, false);
    row("fd00::1", true, false);
    row("::ffff:192.168.0.1", true, false);
    // The TEST-NETs, IPv6 ways to IPv4 networks, IPv4 addresses dressed as IPv6, this host.
    for (const char* refused :
        {"192.0.2.10", "198.51.100.7", "203.0.113.9", "2001:db8::43", "64:ff9b::c707:532a",
            "2002:c707:532a::1", "2001:0:4136:e378::1", "::10.1.2.3", "::ffff:0:10.1.2.3"})
        row(refused, true, false);
    for (const QHostAddress& own : QNetworkInterface::allAddresses()) {
        if (!own.isLoopback())
            QTest::newRow(qPrintable("this host's " + own.toString()))
                << own.toString() << true << false;
    }
}

void TestServiceText::addresses()
{
    QFETCH(QString, address);
    QFETCH(bool, inTests);
    QFETCH(bool, reached);
    QCOMPARE(mayConnect(QHostAddress(address), inTests), reached);
}

void TestServiceText::page_data()
{
    QTest::addColumn<QStringList>("record"); // registrar, registrant, email
    QTest::addColumn<bool>("versionTwo");
    QTest::addColumn<QStringList>("shown"); // cop, truename, mail; empty: as the record says
    const auto row = [](const char* name, const QStringList& record, bool versionTwo,
                         const QStringList& shown = {}) {
        QTest::newRow(name) << record << versionTwo << shown;
    };
    row("private registrant", {"Registrar One, LLC", "", ""}, true,
        {"Registrar\u3000One,\u3000LLC", "已保密", "已保密"});
    row("public registrant", {"新网", "某公司", "a@b.cn"}, false);
    row("public e-mail only", {"R", "", "a@b.cn"}, false, {"R", "已保密", "a@b.cn"});
    row("registrar named Whois, private", {"Whois Networks", "", ""}, false,
        {"Whois\u3000Networks", "已保密", "已保密"});
    row("e-mail holding Sponsoring", {"R", "X", "Sponsoring@x.com"}, false,
        {"R", "X", "\uff33ponsoring@x.com"});
    row("registrant holding Administrative", {"R", "Administrative Office", ""}, false,
        {"R", "\uff21dministrative\u3000Office", "已保密"});
    row("what GBK lacks", {"Ünïcødé 😀 ✓", "x\ty\nz", ""}, false,
        {"?n?c?dé\u3000?\u3000?", "x\u3000y\u3000z", "已保密"});
    row("a name of 900,000 characters", {"R", QString(900000, u'A'), ""}, false,
        {"R", QString(256, u'A') + "…", "已保密"});
}

// Every page is read back here as the window reads it.
void TestServiceText::page()
{
    QFETCH(QStringList, record);
    QFETCH(bool, versionTwo);
    QFETCH(QStringList, shown);
    LookupResult result;
    result.outcome = Outcome::Registered;
    result.asked << "whois.example.test";
    result.record = {record[0], record[1], record[2],
        {QDateTime(QDate(2003, 3, 17), QTime(4, 20, 5), Qt::UTC), true},
        {QDateTime(QDate(2027, 3, 17), QTime(4, 48, 36), Qt::UTC), true}, {"ns1.example.cn"}};
    const Reply reply = whoisPage("example.cn", result);
    QString text = decodeAnsi(reply.body);
    QCOMPARE(text.contains("Version 2.0"), versionTwo);
    const WhoisFacts read = readWhoisPage(stripBlanks(text));
    if (shown.isEmpty())
        shown = record;
    QCOMPARE((QStringList {read.cop, read.truename, read.mail}), shown);
    QCOMPARE(read.bdate, QString("2003-03-17 12:20:05"));
    QCOMPARE(read.edate, QString("2027-03-17 12:48:36"));
}

// The pages kept take at most the bytes given: the stalest go first, but never one that clients
// wait on while it is looked up again.
void TestServiceText::cacheBoundInBytes()
{
    Clock::time_point now = Clock::now();
    const auto page
        = std::make_shared<const Reply>(Reply {200, "text/plain", QByteArray(1000, 'x')});
    AnswerCache cache([&now] { return now; }, 3 * (1000 + 300));
    Sent hit;
    const auto claim = [&](const char* domain) {
        return cache.claim(
            domain, [](Sent) {}, &hit);
    };
    for (const auto& [domain, minutes] : {std::pair {"a.com", 15}, {"b.com", 5}, {"c.com", 15}}) {
        QCOMPARE(claim(domain), AnswerCache::Claim::Lead);
        cache.finish(domain, page, std::chrono::minutes(minutes));
    }
    now += std::chrono::minutes(6);
    QCOMPARE(claim("b.com"), AnswerCache::Claim::Lead); // stale, looked up again
    QCOMPARE(claim("d.com"), AnswerCache::Claim::Lead);
    cache.finish("d.com", page, std::chrono::minutes(15));
    QVERIFY(cache.bytes() <= 3 * (1000 + 300));
    QCOMPARE(claim("b.com"), AnswerCache::Claim::Joined);
    QCOMPARE(claim("c.com"), AnswerCache::Claim::Hit);
    QCOMPARE(claim("a.com"), AnswerCache::Claim::Lead); // the stalest no one waited on
}

QTEST_GUILESS_MAIN(TestServiceText)
#include "test_service_text.moc"
