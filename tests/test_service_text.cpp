// The service's pure parts: typed text to a domain, registry dates, the name servers and referral
// an answer yields, which addresses may be reached, and pages that must read back in the program
// exactly as meant.
#include <QNetworkInterface>
#include <QtTest>

#include "whoispage/cut.h"
#include "service/limits.h"
#include "service/lookup/answercache.h"
#include "service/names/domainname.h"
#include "service/http/page.h"
#include "service/http/rdapobject.h"
#include "service/net/addresspolicy.h"
#include "service/reading/rdapreading.h"
#include "service/reading/whoistext.h"
#include "support/fakeserver.h"

class TestServiceText : public QObject
{
    Q_OBJECT
private slots:
    void domain_data();
    void domain();
    void typedBytes();
    void dates_data();
    void dates();
    void nameServersBounded_data();
    void nameServersBounded();
    void referrals_data();
    void referrals();
    void addresses_data();
    void addresses();
    void clients_data();
    void clients();
    void statuses_data();
    void statuses();
    void page_data();
    void page();
    void cacheBoundInBytes();
};

void TestServiceText::domain_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("looked"); // empty: no domain name
    for (const QStringList& row : tableOf("domains.tsv"))
        QTest::newRow(qPrintable(row[0])) << row[1] << row[2];
    QTest::newRow("blanks and case")
        << QString::fromUtf16(u" \u3000Example.COM\t") << "example.com";
    QTest::newRow("too long") << QString(250, u'a') + ".com" << QString();
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
    QTest::addColumn<QString>("zone"); // the registry's documented zone, minutes east of UTC
    QTest::addColumn<QString>("shown"); // China Standard Time when the zone is known
    for (const QStringList& row : tableOf("dates.tsv"))
        QTest::newRow(qPrintable(row[0])) << row[0] << row[1] << row[2];
}

void TestServiceText::dates()
{
    QFETCH(QString, text);
    QFETCH(QString, zone);
    QFETCH(QString, shown);
    LookupResult result;
    result.outcome = Outcome::Registered;
    result.record.created
        = parseWhoisDate(text, zone.isEmpty() ? std::nullopt : std::optional(zone.toInt()));
    QCOMPARE(intendedFacts(result).bdate, shown.isEmpty() ? QString(" ") : shown);
}

// An answer listing 40,000 name servers keeps a domain's handful, over RDAP as over port 43.
void TestServiceText::nameServersBounded_data()
{
    QTest::addColumn<bool>("rdap");
    QTest::newRow("port 43") << false;
    QTest::newRow("RDAP") << true;
}

void TestServiceText::nameServersBounded()
{
    QFETCH(bool, rdap);
    QByteArray text, json;
    for (int i = 0; i < 40000; ++i) {
        const QByteArray host = "ns" + QByteArray::number(i) + ".example.com";
        text += "Name Server: " + host + "\n";
        json += (i ? R"(,{"ldhName":")" : R"({"ldhName":")") + host + R"("})";
    }
    const DomainRecord record = rdap
        ? readRdapDomain(R"({"objectClassName":"domain","nameservers":[)" + json + "]}").record
        : readAnswerFrom("whois.example.test", "example.com", text).record;
    QCOMPARE(record.nameServers.size(), limits::kMostNameServers);
}

void TestServiceText::referrals_data()
{
    QTest::addColumn<QString>("line"); // of a thin registry's answer
    QTest::addColumn<QString>("server"); // the registrar's whois server it names
    for (const QStringList& row : tableOf("referrals.tsv"))
        QTest::newRow(qPrintable(row[0])) << row[0] << row[1];
}

void TestServiceText::referrals()
{
    QFETCH(QString, line);
    QFETCH(QString, server);
    const QByteArray answer = "Domain Name: example.com\n" + line.toUtf8() + "\n";
    QCOMPARE(readAnswerFrom("whois.example.test", "example.com", answer).referral, server);
}

void TestServiceText::addresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("inTests"); // --allow-loopback-upstreams
    QTest::addColumn<bool>("reached");
    for (const QStringList& row : tableOf("addresses.tsv"))
        QTest::newRow(qPrintable(row[0] + (row[1] == "true" ? " (tests)" : "")))
            << row[0] << (row[1] == "true") << (row[2] == "true");
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

void TestServiceText::clients_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("client");
    for (const QStringList& row : tableOf("clients.tsv"))
        QTest::newRow(qPrintable(row[0])) << row[0] << row[1];
}

void TestServiceText::clients()
{
    QFETCH(QString, address);
    QFETCH(QString, client);
    QCOMPARE(clientOf(QHostAddress(address)), client);
}

void TestServiceText::statuses_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("rdap");
    for (const QStringList& row : tableOf("statuses.tsv"))
        QTest::newRow(qPrintable(row[0])) << row[0] << row.value(1);
}

void TestServiceText::statuses()
{
    QFETCH(QString, code);
    QFETCH(QString, rdap);
    QCOMPARE(rdapStatus({code}).join(u','), rdap);
}

void TestServiceText::page_data()
{
    QTest::addColumn<QStringList>("record"); // registrar, registrant, email
    QTest::addColumn<bool>("versionTwo");
    QTest::addColumn<QStringList>("shown"); // cop, truename, mail
    for (const QStringList& row : tableOf("pages.tsv"))
        QTest::newRow(qPrintable(row[0])) << row.mid(1, 3) << (row[4] == "true") << row.mid(5);
    QTest::newRow("what GBK lacks") << QStringList {"Ünïcødé 😀 ✓", "x\ty\nz",
        ""} << false << QStringList {"?n?c?dé\u3000?\u3000?", "x\u3000y\u3000z", "已保密"};
    QTest::newRow("a name of 900,000 characters") << QStringList {"R", QString(900000, u'A'),
        ""} << false << QStringList {"R", QString(256, u'A') + "…", "已保密"};
}

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
    QCOMPARE((QStringList {read.cop, read.truename, read.mail}), shown);
    QCOMPARE(read.bdate, QString("2003-03-17 12:20:05"));
    QCOMPARE(read.edate, QString("2027-03-17 12:48:36"));
}

// The pages kept take at most the bytes given: the stalest go first, but never one that clients
// wait on while it is looked up again.
void TestServiceText::cacheBoundInBytes()
{
    Clock::time_point now = Clock::now();
    const auto form = [](int bytes) {
        return std::make_shared<const Reply>(Reply {200, "text/plain", QByteArray(bytes, 'x')});
    };
    const LookupAnswer page {form(600), form(400)};
    AnswerCache cache([&now] { return now; }, 3 * (1000 + 600));
    Sent hit;
    const auto claim = [&](const char* domain) {
        return cache.claim(
            domain, Form::Rdap, [](Sent) {}, &hit);
    };
    for (const auto& [domain, minutes] : {std::pair {"a.com", 15}, {"b.com", 5}, {"c.com", 15}}) {
        QCOMPARE(claim(domain), AnswerCache::Claim::Lead);
        cache.finish(domain, page, std::chrono::minutes(minutes));
    }
    now += std::chrono::minutes(6);
    QCOMPARE(claim("b.com"), AnswerCache::Claim::Lead); // stale, looked up again
    QCOMPARE(claim("d.com"), AnswerCache::Claim::Lead);
    cache.finish("d.com", page, std::chrono::minutes(15));
    QVERIFY(cache.bytes() <= 3 * (1000 + 600));
    QCOMPARE(claim("b.com"), AnswerCache::Claim::Joined);
    QCOMPARE(claim("c.com"), AnswerCache::Claim::Hit);
    QCOMPARE(hit.reply, page.rdap);
    QCOMPARE(claim("a.com"), AnswerCache::Claim::Lead); // the stalest no one waited on
}

QTEST_GUILESS_MAIN(TestServiceText)
#include "test_service_text.moc"
