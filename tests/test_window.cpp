// The main window: its controls, start-up, the close and link labels, the banner strip.
#include <QtTest>

#include "support/formfixture.h"
#include "support/httpserver.h"
#include "window/program.h"
#include "window/webbrowser.h"

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void tabOrder();
    void startUp();
    void startFailure();
    void enterAndEscapePressNothing();
    void closeEndsProgramWhileBannerLoads();
    void linkLabel();
    void linkCursor();
    void banner_data();
    void banner();
    void bannerLink();
};

void TestWindow::geometry_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, QRect rect, const char* text) {
        QTest::newRow(name) << rect << QString::fromUtf8(text);
    };
    row("tb_url", {96, 56, 209, 25}, "不要输入www.");
    row("Command1", {320, 56, 57, 25}, "查询");
    row("lb_url", {96, 134, 217, 17}, "");
    row("lb_cop", {96, 192, 217, 17}, "");
    row("lb_truename", {104, 163, 217, 17}, "");
    row("lb_mail", {96, 220, 217, 17}, "");
    row("lb_bdate", {112, 252, 217, 17}, "");
    row("lb_edate", {112, 280, 217, 17}, "");
    row("Command2", {392, 56, 57, 25}, "关注");
    row("List1", {352, 136, 120, 160}, "");
    row("Command3", {392, 304, 41, 17}, "删除");
    row("Label1", {480, 8, 10, 19}, "X");
    row("Label2", {392, 11, 72, 12}, "访问官方网站");
    row("wb1", {0, 349, 505, 41}, "");
}

void TestWindow::geometry()
{
    QFETCH(QRect, rect);
    QFETCH(QString, text);
    FormFixture fixture;
    Form1& form = fixture.form();
    QCOMPARE(form.size(), QSize(500, 393));
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    auto* control = form.findChild<QWidget*>(QTest::currentDataTag());
    QCOMPARE(control->geometry(), rect);
    if (!qobject_cast<WebBrowser*>(control))
        QCOMPARE(control->property("text").toString(), text);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        // Plain text only, and the rectangle holds whatever is shown.
        QCOMPARE(label->textFormat(), Qt::PlainText);
        label->setText(QString(300, u'长') + "<b>x</b>");
        QCoreApplication::processEvents();
        QCOMPARE(label->geometry(), rect);
    }
    const QColor colour = control->palette().color(QPalette::WindowText);
    const QByteArray name = QTest::currentDataTag();
    if (name == "lb_edate" || name == "Label1")
        QCOMPARE(colour, QColor(192, 0, 0));
    if (name == "Label2")
        QCOMPARE(colour, QColor(255, 255, 0));
    QVERIFY(
        QFontInfo(control->font()).family().contains(QRegularExpression("SimSun|WenQuanYi|Noto")));
}

void TestWindow::tabOrder()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    form.tb_url->setFocus();
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
                     << form->focusWidget()->objectName() << form->List1->List(0)
                     << form->lb_url->text();
        }
        QCoreApplication::exit(7);
    });
    QCOMPARE(runForm1(fixture.services), 7);
    QCOMPARE(seen, (QStringList {"shown", "tb_url", "one.example", ""}));
}

void TestWindow::startFailure()
{
    FormFixture fixture;
    QFile::remove(fixture.dbPath());
    QCOMPARE(runForm1(fixture.services), 1);
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY(fixture.messages.front().startsWith("程序无法启动"));
    QVERIFY(fixture.messages.front().contains(fixture.dbPath()));
    QVERIFY(!QFile::exists(fixture.dbPath()));
}

void TestWindow::enterAndEscapePressNothing()
{
    TestHttpServer server;
    FormFixture fixture(server.base() + "/w?d=");
    Form1& form = fixture.form();
    for (QWidget* focus :
        {static_cast<QWidget*>(form.tb_url), static_cast<QWidget*>(form.Command1)}) {
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
        QTest::mouseClick(fixture.form().Label2, Qt::LeftButton);
    QCOMPARE(fixture.opened, (QStringList {"http://127.0.0.1:9", "http://127.0.0.1:9"}));
    QVERIFY(fixture.messages.isEmpty());

    FormFixture failing;
    failing.services.openBrowser = [](const QString&) { return false; };
    QTest::mouseClick(failing.form().Label2, Qt::LeftButton);
    QCOMPARE(failing.messages.size(), 1);
    QVERIFY(failing.messages.front().contains("无法打开浏览器"));
    QVERIFY(failing.form().isVisible());
}

void TestWindow::linkCursor()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    for (QWidget* control : form.findChildren<QWidget*>()) {
        const bool link = control == form.Label1 || control == form.Label2;
        QCOMPARE(control->cursor().shape() == Qt::BitmapCursor, link);
        if (link)
            QCOMPARE(control->cursor().pixmap().toImage().pixelColor(0, 0).alpha(), 0);
    }
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
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
                             << WebBrowser::neutralLine();
    QTest::newRow("too large") << 200 << QByteArray(300 * 1024, 'x') << WebBrowser::neutralLine();
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
    form.Form_Load();
    form.wb1->setPlainText("stale"); // a failure must replace it too
    form.show();
    QTRY_COMPARE(form.wb1->toPlainText(), shown);
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
    form.Form_Load();
    QTRY_VERIFY(form.wb1->toPlainText().contains("home"));
    QTextCursor link = form.wb1->document()->find("home");
    link.setPosition(link.selectionStart() + 1);
    QTest::mouseClick(
        form.wb1->viewport(), Qt::LeftButton, {}, form.wb1->cursorRect(link).center());
    QCOMPARE(fixture.opened, QStringList {server.base() + "/"});
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
