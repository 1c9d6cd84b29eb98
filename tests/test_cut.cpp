// Text cutting, blank stripping and which layout a stripped page is read by.
#include <QtTest>

#include "whoispage/cut.h"
#include "whoispage/whois.h"

class TestCut : public QObject
{
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<QStringList>("cut"); // content, start, end, what is cut out
        const auto row = [](const char* name, const char* content, const char* start,
                             const char* end, const char* expected) {
            QTest::newRow(name) << QStringList {content, start, end, expected};
        };
        row("between", "Registrar:ABC-123Whois", "Registrar:", "Whois", "ABC-123");
        row("colon stays", "xxVersion:2.0Domainyy", "Version", "Domain", ":2.0");
        row("no end", "Registrar:ABC", "Registrar:", "Whois", "");
        row("end only before", "WhoisRegistrar:ABC", "Registrar:", "Whois", "");
        row("no start: from its length", "0123456789ABWhois", "Registrar:", "Whois", "9AB");
        row("no start, short", "012Whois", "Registrar:", "Whois", "");
        row("case matters", "xxversion2.0Domain", "Version", "Domain", "ion2.0");
        row("equal markers", "NameServer:ns1NameServer:ns2", "NameServer:", "NameServer:", "ns1");
        row("first occurrence wins", "SponsoringRegistrar:NetWhois", "Registrar:", "Whois", "Net");
        row("empty content", "", "Version", "Domain", "");
        row("empty start", "abc", "", "c", "ab");
        row("start at the end", "xxVersion", "Version", "n", "");
    }

    void cut()
    {
        QFETCH(QStringList, cut);
        QCOMPARE(strCut(cut[0], cut[1], cut[2]), cut[3]);
    }

    void strip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString otherSpace = QString::fromUtf16(u"a\u3000b\u00a0c&nbsp;d");
        QTest::newRow("ascii blanks") << QString("a \t\r\nb  \n c") << QString("abc");
        QTest::newRow("fifth blank") << QString("a") + ansiBlank() + "b" << QString("ab");
        QTest::newRow("other white space stays") << otherSpace << otherSpace;
    }

    void strip()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(stripBlanks(text), expected);
        QCOMPARE(text, expected); // in place
    }

    void page_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("facts"); // cop|truename|mail|bdate|edate
        QTest::newRow("colon after Version: other layout")
            << "Version:2.0DomainRegistrantName:XAdministrativeEmail:ySponsoring"
            << "|X|y| | ";
        QTest::newRow("no Version, 2.0 at the seventh character")
            << "abcdef2.0DomainRegistrar:RWhoisCreationDate:2008Expiration"
            << "R|已保密|已保密|2008 | ";
        QTest::newRow("no 友情提示: expiration is a space")
            << "RegistrationDate:2003-03-14ExpirationDate:2013-03-1712:48:36"
            << "|||2003-03-14 | ";
        QTest::newRow("error page") << "<html><body><h1>404NotFound</h1></body></html>"
                                    << "||| | ";
    }

    void page()
    {
        QFETCH(QString, page);
        QFETCH(QString, facts);
        const WhoisFacts read = readWhoisPage(page);
        QCOMPARE(
            (QStringList {read.cop, read.truename, read.mail, read.bdate, read.edate}).join('|'),
            facts);
    }
};

QTEST_GUILESS_MAIN(TestCut)
#include "test_cut.moc"
