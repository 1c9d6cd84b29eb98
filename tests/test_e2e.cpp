// The program's main job for real: the window pressing "查询" against the whois service on
// loopback, fed by fake IANA and registry servers speaking port-43 whois.
#include <unistd.h>

#include <QtTest>

#include "support/fakeregistries.h"
#include "support/formfixture.h"

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void query_data();
    void query();
};

void TestEndToEnd::query_data()
{
    QTest::addColumn<QString>("typed"); // null: the box's initial text
    QTest::addColumn<QString>("shown"); // the six labels
    QTest::addColumn<QString>("logged"); // the service's line for the look-up, after the time
    QTest::newRow("registered") << "www.example.com.cn"
                                << "www.example.com.cn|" + shownFor("www.example.com.cn").join('|')
                                << "example.com.cn asked=127.0.0.2,whois.cnnic.cn registered";
    QTest::newRow("not registered")
        << "free-name-42.com"
        << "free-name-42.com||" + kFree + "|| | "
        << "free-name-42.com asked=127.0.0.2,whois.verisign-grs.com not-registered";
    QTest::newRow("initial text")
        << QString() << "不要输入www.||这不是可以查询的域名|| | "
        << "%E4%B8%8D%E8%A6%81%E8%BE%93%E5%85%A5www. asked=- not-a-domain";
}

void TestEndToEnd::query()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, logged);
    FakeRegistries registries;
    QTemporaryFile log; // the service's log goes to stderr
    QVERIFY(log.open());
    const auto restore
        = qScopeGuard([was = ::dup(STDERR_FILENO)] { ::dup2(was, STDERR_FILENO), ::close(was); });
    ::dup2(log.handle(), STDERR_FILENO);
    {
        WhoisService service(registries.service());
        FormFixture fixture(
            QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=").arg(service.port()));
        Form1& form = fixture.form();
        if (!typed.isNull())
            form.domainBox->setText(typed);
        QTest::mouseClick(form.queryButton, Qt::LeftButton);
        QCOMPARE(fixture.labels(), shown.split('|'));
        QVERIFY(fixture.messages.isEmpty());
    }
    log.seek(0);
    QString line = QString::fromUtf8(log.readAll()).section(' ', 1);
    QCOMPARE(line.replace(QRegularExpression(" \\d+ms "), " "), logged + "\n");
}

QTEST_MAIN(TestEndToEnd)
#include "test_e2e.moc"
