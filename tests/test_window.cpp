// The main window: its controls, start-up, the close and link labels, the banner strip, how it
// behaves while a query waits, and moving it by its picture with the pull-back onto the screen.
#include <thread>

#include <QAccessible>
#include <QToolTip>
#include <QtTest>

#include "support/formfixture.h"
#include "support/fakeserver.h"
#include "support/watchfixture.h"
#include "watching/lifecycle.h"
#include "watching/watchstore.h"
#include "window/program.h"
#include "window/bannerview.h"
#include "window/controls.h"
#include "window/pullback.h"

namespace {

// Run as "test_window --host DIR BANNER": the program as a process of its own on an empty watch
// list in DIR, whose "X" a line on standard input clicks.
int host(const QString& dir, const QString& banner)
{
    makeEmptyDatabase(dir + "/domain.mdb");
    Form1Services services;
    services.programDir = [dir] { return dir; };
    services.sites.banner = banner;
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* form = qobject_cast<Form1*>(top))
                QTest::mouseClick(form->closeLabel, Qt::LeftButton);
    });
    return runForm1(std::move(services));
}

int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
        + std::abs(qBlue(a) - qBlue(b));
}

// The pixel of image within columns [from, to) nearest to colour: its distance.
int nearest(const QImage& image, int from, int to, QRgb colour)
{
    int best = 3 * 255;
    for (int y = 0; y < image.height(); ++y)
        for (int x = from; x < to; ++x)
            best = std::min(best, distance(image.pixel(x, y), colour));
    return best;
}

QImage grabRow(ListBox* list, int row)
{
    const QRect rect = list->visualRect(list->model()->index(row, 0));
    return list->viewport()->grab(rect & list->viewport()->rect()).toImage();
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void controlsInsideWithoutOverlap()
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

    // As the program starts: shown with the watch list, the focus in the text box, Tab going round,
    // and Enter, Esc pressing nothing anywhere.
    void startUpAndKeys()
    {
        FormFixture fixture;
        fixture.sql("insert into domain values(1,'one.example')");
        QStringList seen;
        QTimer::singleShot(0, [&seen] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* form = qobject_cast<Form1*>(top);
                if (!form)
                    continue;
                seen << form->watchList->entry(0) << form->focusWidget()->objectName();
                for (int i = 0; i < 6; ++i) {
                    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Tab})
                        QTest::keyClick(form->focusWidget(), key);
                    seen << form->focusWidget()->objectName();
                }
                seen << (form->isVisible() ? "shown" : "hidden") << form->domainLabel->text();
            }
            QCoreApplication::exit(7);
        });
        QCOMPARE(runForm1(fixture.services), 7);
        QCOMPARE(seen.join(' '),
            "one.example tb_url Command1 Command2 List1 Command3 wb1 tb_url shown ");
        QVERIFY(fixture.messages.isEmpty());
        QCOMPARE(fixture.sql("select url from domain"), QStringList {"one.example"});
    }

    void closeEndsProgramWhileBannerLoads()
    {
        TestHttpServer server;
        server.route("/ad/ad2.html", TestHttpServer::Response {200, {}, true, true});
        QTemporaryDir dir;
        QProcess host;
        host.start(QCoreApplication::applicationFilePath(),
            {"--host", dir.path(), server.base() + "/ad/ad2.html"});
        QTRY_COMPARE_WITH_TIMEOUT(server.targets().size(), size_t(1), 20000); // banner loading
        host.write("click\n");
        QVERIFY(host.waitForFinished(10000));
        QCOMPARE(host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1, 0);
    }

    void linkLabel()
    {
        FormFixture fixture, failing;
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(fixture.form().siteLabel, Qt::LeftButton);
        QCOMPARE(fixture.opened, (QStringList {"http://127.0.0.1:9", "http://127.0.0.1:9"}));
        QVERIFY(fixture.messages.isEmpty());
        failing.services.openBrowser = [](const QString&) { return false; };
        QTest::mouseClick(failing.form().siteLabel, Qt::LeftButton);
        QVERIFY(
            failing.messages.size() == 1 && failing.messages.front().contains("无法打开浏览器"));
        QVERIFY(failing.form().isVisible());
    }

    void banner_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("link"); // opened by a click on what is shown
        const QString neutral = BannerView::neutralLine();
        const QByteArray page
            = "<html><head><meta charset=gbk></head><body style='background:#fc0'>"
            + ("<a href='/'>" + gbk("服务正常") + "</a></body></html>");
        QTest::newRow("loads") << 200 << page << QString("服务正常") << QString("/");
        QTest::newRow("missing") << 404 << QByteArray("<h1>Not Found</h1>") << neutral << "";
        QTest::newRow("too large") << 200 << QByteArray(300 * 1024, 'x') << neutral << "";
    }

    void banner()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, page);
        QFETCH(QString, shown);
        QFETCH(QString, link);
        TestHttpServer server;
        server.route("/ad/ad2.html", {status, page});
        FormFixture fixture;
        fixture.services.sites.banner = server.base() + "/ad/ad2.html";
        Form1 form(fixture.services);
        bool requestedBeforePaint = false;
        connect(&form, &Form1::firstPainted,
            [&] { requestedBeforePaint = !server.requests().empty(); });
        form.load();
        form.bannerView->setPlainText("stale"); // a failure must replace it too
        form.show();
        QTRY_COMPARE(form.bannerView->toPlainText(), shown);
        QVERIFY(!requestedBeforePaint);
        QCOMPARE(server.targets(), std::vector<QByteArray> {"/ad/ad2.html"});
        QTextCursor at = form.bannerView->document()->find(shown);
        at.setPosition(at.selectionStart() + 1);
        QTest::mouseClick(form.bannerView->viewport(), Qt::LeftButton, {},
            form.bannerView->cursorRect(at).center());
        QCOMPARE(fixture.opened.join(' '), link.isEmpty() ? link : server.base() + link);
    }

    // While the answer takes 3 s the window shows the busy pointer and still paints; a real click
    // on "关注" made meanwhile is handled once the answer is shown, as when the window was blocked.
    void slowQueryKeepsPainting()
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
        int busy = 0;
        QTimer::singleShot(1000, &form, [&] {
            busy += QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
            counter.paints = 0;
            form.registrarLabel->setText("meanwhile");
            const QString id = QString::number(form.winId());
            QProcess::execute(xdotool, {"mousemove", "--window", id, "420", "68", "click", "1"});
        });
        QString shownAtWatch;
        connect(form.watchButton, &QPushButton::clicked,
            [&] { shownAtWatch = form.registrantLabel->text(); });
        QTest::mouseClick(form.queryButton, Qt::LeftButton);
        // Nothing has run since the answer came in: these paints happened while it was awaited.
        QVERIFY(counter.paints > 0);
        QCOMPARE(busy, 1);
        QVERIFY(shownAtWatch.isEmpty());
        QCOMPARE(form.registrantLabel->text(), QString("Slow"));
        QVERIFY(!QGuiApplication::overrideCursor());
        QTRY_COMPARE(shownAtWatch, QString("Slow"));
        QCOMPARE(fixture.sql("select url from domain"), QStringList {"不要输入www."});
    }

    void paintedRow_data()
    {
        QTest::addColumn<QString>("facts"); // "-": never checked; "?": checks failed
        QTest::addColumn<bool>("unseen");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QRgb>("colour");
        QTest::addColumn<QString>("tip"); // part of the tooltip
        using namespace markerColour;
        const auto row = [](const char* name, const char* facts, bool unseen, const char* marker,
                             QRgb colour, const char* tip) {
            QTest::newRow(name) << facts << unseen << QString(marker) << colour << QString(tip);
        };
        row("never checked: as it always looked", "-", false, "", 0, "");
        row("far", "registered;expires=+200;registrar=R", false, "200天", kCalm, "注册商：R");
        row("within 30 days: amber", "registered;expires=+20", false, "20天", kSoon, "到期日期：");
        row("within 7: red", "registered;expires=+5", false, "5天", kUrgent, "检查于");
        row("free: green", "free", false, "未注册", kFree, "该域名尚未注册");
        row("past expiry", "registered;expires=-10", false, "已过期", kUrgent, "（估计");
        row("redemption", "registered;expires=-50;status=redemption period", false, "赎回期",
            kUrgent, "状态：redemption period");
        row("reserved", "reserved;status=inactive", false, "保留", kCalm, "注册局保留");
        row("checks failed", "?", false, "?", kCalm, "上次检查失败：查询服务没有应答");
        row("changed, not yet looked at", "registered;expires=+20", true, "20天", kSoon,
            "最近的变化：");
    }

    // A long name is elided before its marker, which is right-aligned in its colour, is the
    // entry's accessible description, and the tooltip tells the rest.
    void paintedRow()
    {
        QFETCH(QString, facts);
        QFETCH(bool, unseen);
        QFETCH(QString, marker);
        QFETCH(QRgb, colour);
        QFETCH(QString, tip);
        const QString name = "a-rather-long-name-for-the-list.example";
        FormFixture fixture;
        fixture.sql("insert into domain(url) values('" + name + "')");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        WatchRecord record;
        record.checked = now.addSecs(-3600);
        record.due = now.addDays(1);
        record.known = facts != "?";
        record.facts = factsFrom(facts == "?" ? "registered" : facts);
        record.failure = facts == "?" ? "查询服务没有应答" : "";
        record.unseen = unseen;
        if (unseen)
            record.history = {{ChangeKind::Renewed, record.checked, "2024-01-01", "2025-01-01"}};
        if (facts != "-")
            WatchStore(watchStatePath(fixture.dir.path())).save(name, record);
        Form1& form = fixture.form();
        ListBox* list = form.watchList;
        const QModelIndex index = list->model()->index(0, 0);
        QTRY_COMPARE(index.data(EntryModel::MarkerRole).toString(), marker);
        QCOMPARE(index.data().toString(), name);
        QAccessibleInterface* cell
            = QAccessible::queryAccessibleInterface(list)->tableInterface()->cellAt(0, 0);
        QCOMPARE(cell->text(QAccessible::Description), marker);

        const QImage painted = grabRow(list, 0);
        const int width = painted.width();
        if (marker.isEmpty()) {
            list->setItemDelegate(new QStyledItemDelegate(list));
            QCOMPARE(painted, grabRow(list, 0));
        } else {
            // The marker's colour at the right (thin strokes are lighter); a chromatic one nowhere
            // in the name.
            QVERIFY(nearest(painted, width * 2 / 3, width, colour) < 75);
            if (colour != markerColour::kCalm)
                QVERIFY(nearest(painted, 0, width / 2, colour) > 90);
            QCOMPARE(painted.pixel(0, painted.height() / 2) == 0xff2a6fdb, unseen);
        }

        const QPoint at = list->visualRect(index).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        if (tip.isEmpty()) {
            QVERIFY(!QToolTip::isVisible());
        } else {
            QTRY_VERIFY(QToolTip::isVisible());
            QVERIFY2(QToolTip::text().contains(tip), qPrintable(QToolTip::text()));
            QToolTip::hideText();
        }
    }

    // The window opened on a list last checked a week ago: the catch-up checks every name through
    // the service, marks the one whose expiry moved, and one notification says so; clicking it
    // brings the window up, clicking the entry unmarks it.
    void catchUpMarksAndNotifies()
    {
        TestNotifications notifications;
        if (notifications.address().isEmpty())
            QSKIP("needs dbus-daemon");
        TestHttpServer service;
        TestHttpServer::Response domain {200, fixtureFile(WATCHING_FIXTURES, "com-rdap.json")};
        domain.headers = {{"Cache-Control", "public, max-age=900"}};
        service.route("/rdap/domain/renewed.example", domain);
        service.route("/rdap/domain/steady.example", domain);
        FormFixture fixture(service.base() + "/cgi-bin/whois?domain=");
        fixture.services.sites.rdapBase = service.base() + "/rdap/domain/";
        fixture.services.notificationBus = notifications.address();
        fixture.services.watchPolicy.spacing = std::chrono::seconds(0);
        fixture.sql("insert into domain values(1,'renewed.example'),(2,'steady.example'),"
                    "(3,'new.example')");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        WatchRecord before;
        before.known = true;
        before.facts = readCheckAnswer(200, domain.body, {}, {}, now).facts;
        before.checked = now.addDays(-7);
        before.due = now.addDays(-1);
        WatchStore store(watchStatePath(fixture.dir.path()));
        store.save("steady.example", before);
        before.facts.expires = before.facts.expires.addYears(-1);
        store.save("renewed.example", before);

        Form1& form = fixture.form();
        QTRY_COMPARE(notifications.shown.size(), 1);
        QCOMPARE(notifications.shown[0].summary, QString("1 个关注的域名有变化"));
        QCOMPARE(notifications.shown[0].body, QString("renewed.example"));
        QVERIFY(notifications.shown[0].actions.contains("default"));
        QCOMPARE(service.targets(),
            (std::vector<QByteArray> {"/rdap/domain/new.example", "/rdap/domain/steady.example",
                "/rdap/domain/renewed.example"}));
        const auto unseen = [&](int row) {
            return form.watchList->model()->index(row, 0).data(EntryModel::UnseenRole).toBool();
        };
        QCOMPARE(QList<bool>({unseen(0), unseen(1), unseen(2)}), QList<bool>({false, false, true}));
        QCOMPARE(form.watchList->model()->index(0, 0).data(EntryModel::MarkerRole).toString(),
            QString("未注册"));
        QCOMPARE(store.load("renewed.example")->history.size(), 1);

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        notifications.click(1);
        QTRY_VERIFY(form.isActiveWindow());

        const QRect entry = form.watchList->visualRect(form.watchList->model()->index(2, 0));
        QTest::mouseClick(form.watchList->viewport(), Qt::LeftButton, {}, entry.center());
        QCOMPARE(form.domainLabel->text(), QString("renewed.example"));
        QVERIFY(!unseen(2));
        QVERIFY(!store.load("renewed.example")->unseen);
    }

    // A check that hangs is given up for the user's query and done again after it, counting as
    // no failure.
    void usersQueryGoesFirst()
    {
        TestHttpServer service;
        service.route("/rdap/domain/a.example", TestHttpServer::Response {200, {}, true, true});
        FormFixture fixture(service.base() + "/cgi-bin/whois?domain=");
        fixture.services.sites.rdapBase = service.base() + "/rdap/domain/";
        fixture.services.watchPolicy.spacing = std::chrono::seconds(0);
        fixture.sql("insert into domain(url) values('a.example')");
        Form1& form = fixture.form();
        QTRY_COMPARE(service.targets().size(), size_t(1));
        service.route("/rdap/domain/a.example", {200, "{\"objectClassName\": \"domain\"}"});
        form.domainBox->setText("b.example");
        QTest::mouseClick(form.queryButton, Qt::LeftButton);
        QTRY_COMPARE(service.targets(),
            (std::vector<QByteArray> {"/rdap/domain/a.example", "/cgi-bin/whois?domain=b.example",
                "/rdap/domain/a.example"}));
        const QModelIndex entry = form.watchList->model()->index(0, 0);
        QTRY_COMPARE(entry.data(EntryModel::MarkerRole).toString(), QString("已注册"));
        QVERIFY(!entry.data(Qt::ToolTipRole).toString().contains("失败"));
    }

    void rule_data()
    {
        // Pixels on a 1024 x 768 screen, 15 twips each; -1: left as it is.
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QPoint>("pulled");
        const QSize xga(1024, 768);
        QTest::newRow("right, a tenth") << xga << QPoint(574, 0) << QPoint(524, -1);
        QTest::newRow("right, less") << xga << QPoint(573, 0) << QPoint(-1, -1);
        QTest::newRow("left, a tenth") << xga << QPoint(-50, 0) << QPoint(0, -1);
        QTest::newRow("bottom 415") << xga << QPoint(0, 415) << QPoint(-1, 375);
        QTest::newRow("top -39 stays") << xga << QPoint(0, -39) << QPoint(-1, -1);
        QTest::newRow("narrow screen: far edge wins")
            << QSize(400, 300) << QPoint(0, 0) << QPoint(-100, -93);
    }

    void rule()
    {
        QFETCH(QSize, screen);
        QFETCH(QPoint, at);
        QFETCH(QPoint, pulled);
        const PullBack pull = pullBackRule(screen.width() * 15.0f, screen.height() * 15.0f,
            at.x() * 15.0f, at.y() * 15.0f, 7500.0f, 5895.0f);
        QCOMPARE(pull.left ? *pull.left / 15 : -1.0f, float(pulled.x()));
        QCOMPARE(pull.top ? *pull.top / 15 : -1.0f, float(pulled.y()));
    }

    void drag_data()
    {
        // The window at start, a press on the picture, the mouse moved by delta, then let go.
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("start");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QPoint>("dropped");
        const auto row
            = [](const char* name, Qt::MouseButton button, QPoint start, QPoint delta,
                  QPoint dropped) { QTest::newRow(name) << button << start << delta << dropped; };
        row("left drag moves", Qt::LeftButton, {100, 100}, {60, 40}, {160, 140});
        row("dropped past the right edge", Qt::LeftButton, {523, 100}, {400, 0}, {524, 100});
        row("right press pulls back only", Qt::RightButton, {-200, 668}, {50, 40}, {0, 375});
        row("left press without a move pulls back", Qt::LeftButton, {600, 100}, {}, {524, 100});
    }

    void drag()
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

    void pressOnControlsDoesNothing()
    {
        FormFixture fixture;
        Form1& form = fixture.form();
        form.move(573, 100); // over the edge: any pull-back would show
        QTRY_COMPARE(form.pos(), QPoint(573, 100));
        // Each press let go away from where it began: no link label takes it for a click.
        for (const ControlRow& row : kControlTable) {
            const QPoint center = form.findChild<QWidget*>(row.name)->geometry().center();
            QWidget* control = form.childAt(center); // or the window, where it lets presses through
            const QPoint at = control->mapFrom(&form, center);
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
    void systemMoveUnderWindowManager()
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
        QTRY_VERIFY_WITH_TIMEOUT(xdo({"get_num_desktops"}).trimmed().toInt() > 0, 30000);
        QTemporaryDir dir;
        host.setProcessEnvironment(env);
        host.start(QCoreApplication::applicationFilePath(), {"--host", dir.path(), ""});
        const QStringList search {"search", "--onlyvisible", "--class", "test_window"};
        QString window; // polled here: xdotool's own --sync waits half a second at a time
        QTRY_VERIFY_WITH_TIMEOUT(!(window = xdo(search).section('\n', 0, 0)).isEmpty(), 20000);
        const auto at = [&] { // WINDOW=, X=, Y=, ... one a line
            const QStringList shell = xdo({"getwindowgeometry", "--shell", window}).split('\n');
            return QPoint(shell[1].section('=', 1).toInt(), shell[2].section('=', 1).toInt());
        };
        const QPoint start = at();
        // Press the picture between the input strip and the panels, drag 700 px right, let go.
        xdo({"mousemove", QString::number(start.x() + 250), QString::number(start.y() + 100)});
        xdo({"mousedown", "1"});
        for (int step = 0; step < 10; ++step)
            xdo({"mousemove_relative", "70", "5"});
        xdo({"mouseup", "1"});
        QTRY_COMPARE_WITH_TIMEOUT(at(), QPoint(524, start.y() + 50), 10000);
        // Ended, not killed, so the X server removes its socket and lock for the next run.
        for (QProcess* process : {&host, &manager, &server}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
        }
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--host") == 0)
        return host(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    // Windows closed by one test must not end the event loops of the next.
    QApplication::setQuitOnLastWindowClosed(false);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window.moc"
