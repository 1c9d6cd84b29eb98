// The main window: its controls, start-up, the close and link labels, the banner strip, and how
// it behaves while a query waits.
#include <thread>

#include <QtTest>

#include "support/formfixture.h"
#include "support/fakeserver.h"
#include "window/program.h"
#include "window/bannerview.h"
#include "window/controls.h"

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void controlsInsideWithoutOverlap();
    void tabOrder();
    void startUp();
    void enterAndEscapePressNothing();
    void closeEndsProgramWhileBannerLoads();
    void linkLabel();
    void banner_data();
    void banner();
    void bannerLink();
    void slowQueryKeepsPainting();
};

void TestWindow::controlsInsideWithoutOverlap()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    QCOMPARE(form.size(), QSize(500, 393));
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    std::vector<QRect> taken;
    for (const ControlRow& row : kControlTable) {
        auto* control = form.findChild<QWidget*>(row.name);
        QRect rect = control->geometry();
        // The banner strip runs a few pixels past the right edge, as it always has.
        if (control == form.bannerView)
            rect.setRight(form.width() - 1);
        QVERIFY2(form.rect().contains(rect), row.name);
        for (const QRect& other : taken)
            QVERIFY2(!other.intersects(rect), row.name);
        taken.push_back(rect);
        if (auto* label = qobject_cast<QLabel*>(control)) {
            // Plain text only, and the rectangle holds whatever is shown.
            QCOMPARE(label->textFormat(), Qt::PlainText);
            label->setText(QString(300, u'长') + "<b>x</b>");
            QCoreApplication::processEvents();
            QCOMPARE(label->geometry(), control->geometry());
        }
    }
}

void TestWindow::tabOrder()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    form.domainBox->setFocus();
    QStringList order {form.focusWidget()->objectName()};
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(form.focusWidget(), Qt::Key_Tab);
        order << form.focusWidget()->objectName();
    }
    QCOMPARE(order,
        (QStringList {"tb_url", "Command1", "Command2", "List1", "Command3", "wb1", "tb_url"}));
}

void TestWindow::startUp()
{
    FormFixture fixture;
    fixture.sql("insert into domain values(1,'one.example')");
    QStringList seen;
    QTimer::singleShot(0, [&seen] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<Form1*>(top))
                seen << (form->isVisible() ? "shown" : "hidden")
                     << form->focusWidget()->objectName() << form->watchList->entry(0)
                     << form->domainLabel->text();
        }
        QCoreApplication::exit(7);
    });
    QCOMPARE(runForm1(fixture.services), 7);
    QCOMPARE(seen, (QStringList {"shown", "tb_url", "one.example", ""}));
}

void TestWindow::enterAndEscapePressNothing()
{
    TestHttpServer server;
    FormFixture fixture(server.base() + "/w?d=");
    Form1& form = fixture.form();
    for (QWidget* focus :
        {static_cast<QWidget*>(form.domainBox), static_cast<QWidget*>(form.queryButton)}) {
        focus->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(focus, key);
    }
    QVERIFY(server.requests().empty());
    QVERIFY(form.isVisible());
}

void TestWindow::closeEndsProgramWhileBannerLoads()
{
    TestHttpServer server;
    server.route("/ad/ad2.html", TestHttpServer::Response {200, {}, true, true});
    QTemporaryDir dir;
    makeEmptyDatabase(dir.filePath("domain.mdb"));
    QProcess host;
    host.start(TESTHOST, {dir.path(), server.base() + "/w?d=", server.base() + "/ad/ad2.html"});
    QTRY_COMPARE_WITH_TIMEOUT(server.targets().size(), size_t(1), 20000); // the banner is loading
    host.write("click Label1\n");
    QVERIFY(host.waitForFinished(10000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
}

void TestWindow::linkLabel()
{
    FormFixture fixture;
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(fixture.form().siteLabel, Qt::LeftButton);
    QCOMPARE(fixture.opened, (QStringList {"http://127.0.0.1:9", "http://127.0.0.1:9"}));
    QVERIFY(fixture.messages.isEmpty());

    FormFixture failing;
    failing.services.openBrowser = [](const QString&) { return false; };
    QTest::mouseClick(failing.form().siteLabel, Qt::LeftButton);
    QCOMPARE(failing.messages.size(), 1);
    QVERIFY(failing.messages.front().contains("无法打开浏览器"));
    QVERIFY(failing.form().isVisible());
}

void TestWindow::banner_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("shown");
    QTest::newRow("loads") << 200
                           << "<html><head><meta charset=gbk></head><body style='background:#fc0'>"
            + gbk("服务正常") + "</body></html>"
                           << "服务正常";
    QTest::newRow("missing") << 404 << QByteArray("<h1>Not Found</h1>")
                             << BannerView::neutralLine();
    QTest::newRow("too large") << 200 << QByteArray(300 * 1024, 'x') << BannerView::neutralLine();
}

void TestWindow::banner()
{
    QFETCH(int, status);
    QFETCH(QByteArray, page);
    QFETCH(QString, shown);
    TestHttpServer server;
    server.route("/ad/ad2.html", {status, page});
    FormFixture fixture;
    fixture.services.sites.banner = server.base() + "/ad/ad2.html";
    Form1 form(fixture.services);
    bool requestedBeforePaint = false;
    connect(
        &form, &Form1::firstPainted, [&] { requestedBeforePaint = !server.requests().empty(); });
    form.load();
    form.bannerView->setPlainText("stale"); // a failure must replace it too
    form.show();
    QTRY_COMPARE(form.bannerView->toPlainText(), shown);
    QVERIFY(!requestedBeforePaint);
    QCOMPARE(server.targets(), std::vector<QByteArray> {"/ad/ad2.html"});
}

void TestWindow::bannerLink()
{
    TestHttpServer server;
    server.route("/ad/ad2.html", {200, "<p>Service <a href='/'>home</a></p>"});
    FormFixture fixture;
    fixture.services.sites.banner = server.base() + "/ad/ad2.html";
    Form1& form = fixture.form();
    form.load();
    QTRY_VERIFY(form.bannerView->toPlainText().contains("home"));
    QTextCursor link = form.bannerView->document()->find("home");
    link.setPosition(link.selectionStart() + 1);
    QTest::mouseClick(form.bannerView->viewport(), Qt::LeftButton, {},
        form.bannerView->cursorRect(link).center());
    QCOMPARE(fixture.opened, QStringList {server.base() + "/"});
}

namespace {

struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

// While the answer takes 3 s the window shows the busy pointer and still paints; a real click on
// "关注" made meanwhile is handled once the answer is shown, as when the window was blocked.
void TestWindow::slowQueryKeepsPainting()
{
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    if (xdotool.isEmpty())
        QSKIP("needs xdotool");
    TestHttpServer server;
    TestHttpServer::Response slow {200, "RegistrantName:SlowAdministrative"};
    slow.onRequest = [] { std::this_thread::sleep_for(std::chrono::seconds(3)); };
    server.route("/w", slow);
    FormFixture fixture(server.base() + "/w?d=");
    Form1& form = fixture.form();
    PaintCounter counter;
    form.registrarLabel->installEventFilter(&counter);
    QStringList meanwhile;
    QTimer::singleShot(1000, &form, [&] {
        meanwhile << (QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor ? "busy" : "");
        counter.paints = 0;
        form.registrarLabel->setText("meanwhile");
        QProcess::execute(xdotool,
            {"mousemove", "--window", QString::number(form.winId()), "420", "68", "click", "1"});
    });
    QString shownAtWatch;
    connect(form.watchButton, &QPushButton::clicked,
        [&] { shownAtWatch = form.registrantLabel->text(); });
    QTest::mouseClick(form.queryButton, Qt::LeftButton);
    // Nothing has run since the answer came in: these paints happened while it was awaited.
    QVERIFY(counter.paints > 0);
    QCOMPARE(meanwhile, QStringList {"busy"});
    QVERIFY(shownAtWatch.isEmpty());
    QCOMPARE(form.registrantLabel->text(), QString("Slow"));
    QVERIFY(!QGuiApplication::overrideCursor());
    QTRY_COMPARE(shownAtWatch, QString("Slow"));
    QCOMPARE(fixture.rows("select url from domain"), QStringList {"不要输入www."});
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Windows closed by one test must not end the event loops of the next.
    QApplication::setQuitOnLastWindowClosed(false);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window.moc"
