// The program's main job for real: the window pressing "查询" against the whois service on
// loopback, fed by fake IANA and registry servers speaking port-43 whois.
#include <unistd.h>

#include <QtTest>

#include "support/fakeregistries.h"
#include "support/formfixture.h"
#include "support/watchfixture.h"
#include "watching/watchstore.h"
#include "window/controls.h"

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void query_data();
    void query();
    void watchListCatchesUp();
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

// The program opened on a list last checked long ago, against the service's RDAP endpoint: one name
// renewed since, one dropped; both are marked and one notification tells of the two.
void TestEndToEnd::watchListCatchesUp()
{
    TestNotifications notifications;
    if (notifications.address().isEmpty())
        QSKIP("needs dbus-daemon");
    FakeRegistries registries;
    WhoisService service(registries.service());
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(service.port());
    if (httpRequest(base + "/rdap/help").status != 200)
        QSKIP("the service has no RDAP endpoint");
    FormFixture fixture(base + "/cgi-bin/whois?domain=");
    fixture.services.sites.rdapBase = base + "/rdap/domain/";
    fixture.services.notificationBus = notifications.address();
    fixture.services.watchPolicy.spacing = std::chrono::seconds(0);
    fixture.sql("insert into domain values(1,'www.example.com.cn'),(2,'free-name-42.com')");
    const QDate expires
        = QDate::fromString(shownFor("www.example.com.cn")[4].left(10), Qt::ISODate);
    WatchRecord before;
    before.known = true;
    before.facts = factsFrom("registered;expires=" + expires.addYears(-1).toString(Qt::ISODate));
    before.checked = QDateTime::currentDateTimeUtc().addDays(-400);
    before.due = before.checked.addDays(1);
    WatchStore store(watchStatePath(fixture.dir.path()));
    store.save("www.example.com.cn", before);
    store.save("free-name-42.com", before);

    Form1& form = fixture.form();
    QTRY_COMPARE_WITH_TIMEOUT(notifications.shown.size(), 1, 20000);
    QCOMPARE(notifications.shown[0].summary, QString("2 个关注的域名有变化"));
    const auto row
        = [&](int at, int role) { return form.watchList->model()->index(at, 0).data(role); };
    QCOMPARE(row(0, EntryModel::MarkerRole).toString(), QString("未注册"));
    QVERIFY(row(0, EntryModel::UnseenRole).toBool() && row(1, EntryModel::UnseenRole).toBool());
    QCOMPARE(store.load("www.example.com.cn")->history.value(0).kind, ChangeKind::Renewed);
    QCOMPARE(store.load("free-name-42.com")->history.value(0).kind, ChangeKind::Dropped);
}

QTEST_MAIN(TestEndToEnd)
#include "test_e2e.moc"
