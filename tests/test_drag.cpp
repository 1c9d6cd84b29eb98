// Moving the window by its picture and pulling it back onto the screen.
#include <QtTest>

#include "support/formfixture.h"
#include "window/pullback.h"
#include "window/bannerview.h"

class TestDrag : public QObject
{
    Q_OBJECT
private slots:
    void rule_data();
    void rule();
    void drag_data();
    void drag();
    void pressOnControlsDoesNothing();
    void systemMoveUnderWindowManager();
};

void TestDrag::rule_data()
{
    // Pixels on a 1024 x 768 screen, 15 twips each; -1: left as it is.
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QPoint>("pulled");
    const QSize xga(1024, 768);
    QTest::newRow("on screen") << xga << QPoint(100, 100) << QPoint(-1, -1);
    QTest::newRow("right, a tenth") << xga << QPoint(574, 0) << QPoint(524, -1);
    QTest::newRow("right, less") << xga << QPoint(573, 0) << QPoint(-1, -1);
    QTest::newRow("left, a tenth") << xga << QPoint(-50, 0) << QPoint(0, -1);
    QTest::newRow("bottom 415") << xga << QPoint(0, 415) << QPoint(-1, 375);
    QTest::newRow("top -39 stays") << xga << QPoint(0, -39) << QPoint(-1, -1);
    QTest::newRow("narrow screen: far edge wins")
        << QSize(400, 300) << QPoint(0, 0) << QPoint(-100, -93);
}

void TestDrag::rule()
{
    QFETCH(QSize, screen);
    QFETCH(QPoint, at);
    QFETCH(QPoint, pulled);
    const PullBack pull = pullBackRule(screen.width() * 15.0f, screen.height() * 15.0f,
        at.x() * 15.0f, at.y() * 15.0f, 7500.0f, 5895.0f);
    QCOMPARE(pull.left ? *pull.left / 15 : -1.0f, float(pulled.x()));
    QCOMPARE(pull.top ? *pull.top / 15 : -1.0f, float(pulled.y()));
}

void TestDrag::drag_data()
{
    // The window at start, a press on the picture, the mouse moved by delta, then let go.
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<QPoint>("dropped");
    QTest::newRow("left drag moves")
        << Qt::LeftButton << QPoint(100, 100) << QPoint(60, 40) << QPoint(160, 140);
    QTest::newRow("dropped past the right edge")
        << Qt::LeftButton << QPoint(523, 100) << QPoint(400, 0) << QPoint(524, 100);
    QTest::newRow("right press pulls back only")
        << Qt::RightButton << QPoint(-200, 668) << QPoint(50, 40) << QPoint(0, 375);
    QTest::newRow("left press without a move pulls back")
        << Qt::LeftButton << QPoint(600, 100) << QPoint(0, 0) << QPoint(524, 100);
}

void TestDrag::drag()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, start);
    QFETCH(QPoint, delta);
    QFETCH(QPoint, dropped);
    QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1024, 768));
    FormFixture fixture;
    Form1& form = fixture.form();
    form.move(start);
    QTRY_COMPARE(form.pos(), start);
    const QPoint from(250, 20); // the title band, right of the title
    QTest::mousePress(&form, button, {}, from);
    if (!delta.isNull())
        QTest::mouseMove(&form, from + delta);
    QTest::mouseRelease(&form, button, {}, from + delta);
    QTRY_COMPARE(form.pos(), dropped);
}

void TestDrag::pressOnControlsDoesNothing()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    form.move(573, 100); // over the edge: any pull-back would show
    QTRY_COMPARE(form.pos(), QPoint(573, 100));
    for (QWidget* control : {static_cast<QWidget*>(form.deleteButton), form.watchList->viewport(),
             static_cast<QWidget*>(form.registrarLabel), static_cast<QWidget*>(form.domainBox),
             static_cast<QWidget*>(form.closeLabel), static_cast<QWidget*>(form.siteLabel),
             form.bannerView->viewport(), static_cast<QWidget*>(&form)}) {
        // The picture where a control lies belongs to the control. Each press is let go away
        // from where it began, so that no link label takes it for a click.
        const QPoint at
            = control == &form ? form.registrarLabel->geometry().center() : QPoint(3, 3);
        for (Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
            QTest::mousePress(control, button, {}, at);
            QTest::mouseMove(control, at + QPoint(40, 30));
            QTest::mouseRelease(control, button, {}, at + QPoint(40, 30));
        }
    }
    QTest::qWait(50);
    QCOMPARE(form.pos(), QPoint(573, 100));
    QVERIFY(form.isVisible());
    QVERIFY(fixture.opened.isEmpty());
}

// A real X server with a window manager, driven with the real pointer: the window system's own
// move, then the pull-back once the button is up.
void TestDrag::systemMoveUnderWindowManager()
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString openbox = QStandardPaths::findExecutable("openbox");
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    if (xvfb.isEmpty() || openbox.isEmpty() || xdotool.isEmpty())
        QSKIP("needs Xvfb, openbox and xdotool");
    QProcess server, manager, host;
    server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QByteArray display;
    QTRY_VERIFY_WITH_TIMEOUT((display += server.readAllStandardOutput()).contains('\n'), 10000);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ":" + QString::fromLatin1(display.trimmed()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    const auto xdo = [&](const QStringList& args) {
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(xdotool, args);
        run.waitForFinished();
        return QString::fromLatin1(run.readAllStandardOutput());
    };
    manager.setProcessEnvironment(env);
    manager.start(openbox, {});
    // The program asks what the window manager offers as it connects: wait until it is up.
    QTRY_VERIFY_WITH_TIMEOUT(xdo({"get_num_desktops"}).trimmed().toInt() > 0, 10000);
    QTemporaryDir dir;
    makeEmptyDatabase(dir.filePath("domain.mdb"));
    host.setProcessEnvironment(env);
    host.start(TESTHOST, {dir.path(), "http://127.0.0.1:9/w?d=", ""});
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += host.readAllStandardOutput()).contains("shown"), 20000);

    const QString window
        = xdo({"search", "--sync", "--onlyvisible", "--class", "testhost"}).section('\n', 0, 0);
    const QString geometry = xdo({"getwindowgeometry", "--shell", window});
    const int x = geometry.section("X=", 1).section('\n', 0, 0).toInt();
    const int y = geometry.section("Y=", 1).section('\n', 0, 0).toInt();
    // Press the picture between the input strip and the panels, drag 700 px right, let go.
    xdo({"mousemove", QString::number(x + 250), QString::number(y + 100)});
    xdo({"mousedown", "1"});
    for (int step = 0; step < 10; ++step)
        xdo({"mousemove_relative", "70", "5"});
    xdo({"mouseup", "1"});
    QTRY_VERIFY_WITH_TIMEOUT((output += host.readAllStandardOutput()).contains("dropped"), 10000);
    QCOMPARE(QString::fromLatin1(output).section("dropped ", 1).section('\n', 0, 0),
        QString("524 %1").arg(y + 50));
    for (QProcess* process : {&host, &manager, &server}) {
        process->kill();
        process->waitForFinished();
    }
}

QTEST_MAIN(TestDrag)
#include "test_drag.moc"
