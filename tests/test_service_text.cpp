// The service's pure parts: typed text to a domain, registry dates, which addresses may be
// reached, and pages that must read back in the program exactly as meant.
#include <QtTest>

#include "query/cut.h"
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
    QTest::addColumn<int>("zone"); // the format's own, in minutes east of UTC
    QTest::addColumn<QString>("utc");
    const auto row = [](const char* text, int zone, const char* utc) {
        QTest::newRow(text) << text << zone << utc;
    };
    row("1999-08-14T04:00:00Z", 0, "1999-08-14 04:00:00");
    row("2025-08-14T07:01:38+0000", 0, "2025-08-14 07:01:38");
    row("2025-03-12T21:44:25+01:00", 0, "2025-03-12 20:44:25");
    row("2020-01-01T00:30:00.0Z", 540, "2020-01-01 00:30:00");
    row("2003-03-17 12:20:05", 480, "2003-03-17 04:20:05");
    row("2026/02/01 01:05:05 (JST)", 0, "2026-01-31 16:05:05");
    row("2001/01/29", 540, "2001-01-29 00:00:00");
    row("26-Aug-1996", 0, "1996-08-26 00:00:00");
    row("14-mar-2008 10:00:00 UTC", 0, "2008-03-14 10:00:00");
    row("12.01.2005", 0, "2005-01-12 00:00:00");
    row("2021-02-30", 0, "");
    row("before the registry began", 0, "");
}

void TestServiceText::dates()
{
    QFETCH(QString, text);
    QFETCH(int, zone);
    QFETCH(QString, utc);
    const QDateTime parsed = parseWhoisDate(text, zone);
    QCOMPARE(parsed.isValid() ? parsed.toUTC().toString("yyyy-MM-dd HH:mm:ss") : QString(), utc);
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
    row("192.0.2.10", false, true);
    row("2001:db8::43", false, true);
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
    result.record
        = {record[0], record[1], record[2], QDateTime(QDate(2003, 3, 17), QTime(4, 20, 5), Qt::UTC),
            QDateTime(QDate(2027, 3, 17), QTime(4, 48, 36), Qt::UTC), {"ns1.example.cn"}};
    const Reply reply = whoisPage("example.cn", result);
    QString text = decodeAnsi(reply.body);
    QCOMPARE(text.contains("Version 2.0"), versionTwo);
    const WhoisFacts read = readWhoisPage(StripBlanks(text));
    if (shown.isEmpty())
        shown = record;
    QCOMPARE((QStringList {read.cop, read.truename, read.mail}), shown);
    QCOMPARE(read.bdate, QString("2003-03-17 04:20:05"));
    QCOMPARE(read.edate, QString("2027-03-17 04:48:36"));
}

QTEST_GUILESS_MAIN(TestServiceText)
#include "test_service_text.moc"
