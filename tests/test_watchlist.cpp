// The watch list on real SQLite files: the database layer and the Watch, Delete and click
// commands driven through the window, a second copy of the program, and kills.
#include <signal.h>
#include <sys/resource.h>

#include <thread>

#include <QtTest>

#include <sqlite3.h>

#include "support/formfixture.h"
#include "support/httpserver.h"
#include "watchlist/watchlist.h"

namespace {

QStringList column(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    QStringList values;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        values << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return values;
}

QStringList storedUrls(const FormFixture& fixture)
{
    return column(fixture.dbPath(), "select url from domain order by id");
}

void watch(Form1& form, const QStringList& texts)
{
    for (const QString& text : texts) {
        form.tb_url->setText(text);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
    }
}

// A copy of the program on a folder, driven through its standard input.
struct Host
{
    explicit Host(const QString& dir)
    {
        process.start(TESTHOST, {dir, "http://127.0.0.1:9/w?d=", ""});
    }
    ~Host()
    {
        process.kill();
        process.waitForFinished();
    }
    bool waitFor(const QByteArray& text, int ms = 20000)
    {
        QDeadlineTimer deadline(ms);
        while (!output.contains(text) && !deadline.hasExpired()) {
            process.waitForReadyRead(50);
            output += process.readAllStandardOutput();
        }
        return output.contains(text);
    }
    void send(const QByteArray& line) { process.write(line + "\n"); }
    void kill()
    {
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished();
        output += process.readAllStandardOutput();
    }
    QStringList lines(const char* prefix) const
    {
        QStringList found;
        for (const QByteArray& line : output.split('\n'))
            if (line.startsWith(prefix))
                found << QString::fromUtf8(line.mid(qsizetype(qstrlen(prefix))));
        return found;
    }

    QProcess process;
    QByteArray output;
};

} // namespace

class TestWatchList : public QObject
{
    Q_OBJECT
private slots:
    void paths_data();
    void paths();
    void listing_data();
    void listing();
    void badFileAtStart_data();
    void badFileAtStart();
    void watchAppendsAndStores();
    void deleteRemovesEqualRows_data();
    void deleteRemovesEqualRows();
    void failedCommandsAreReported();
    void waitsForAnotherCopy();
    void clickQueries();
    void onlyLeftPressSelects_data();
    void onlyLeftPressSelects();
    void recordSetOutlivesConnection();
    void survivesBeingKilled();
    void twoCopies();
};

void TestWatchList::paths_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("path");
    QTest::newRow("folder") << "/opt/whois"
                            << "/opt/whois/domain.mdb";
    QTest::newRow("trailing separator") << "/opt/whois/"
                                        << "/opt/whois/domain.mdb";
    QTest::newRow("root") << "/"
                          << "/domain.mdb";
}

void TestWatchList::paths()
{
    QFETCH(QString, dir);
    QFETCH(QString, path);
    QCOMPARE(databasePath(dir), path);
}

void TestWatchList::listing_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("empty") << "" << QStringList {};
    QTest::newRow("newest first")
        << "insert into domain values(1,'one.example'),(2,'two.example'),(3,'three.example');"
        << QStringList {"three.example", "two.example", "one.example"};
    QTest::newRow("null rows skipped") << "insert into domain values(1,'a'),(2,null),(3,''),(4,42);"
                                       << QStringList {"42", "", "a"};
    QTest::newRow("extra columns") << "alter table domain add column note text default 'n';"
                                      "alter table domain add column added integer default 7;"
                                      "insert into domain(url) values('x.example'),('y.example');"
                                   << QStringList {"y.example", "x.example"};
}

void TestWatchList::listing()
{
    QFETCH(QString, rows);
    QFETCH(QStringList, entries);
    FormFixture fixture;
    if (!rows.isEmpty())
        fixture.sql(rows);
    fixture.form().Form_Load();
    QCOMPARE(fixture.listEntries(), entries);
    if (QTest::currentDataTag() == QByteArray("extra columns")) {
        // Watch leaves every other column to its default.
        watch(fixture.form(), {"z.example"});
        QCOMPARE(column(fixture.dbPath(), "select note || added from domain where id = 3"),
            QStringList {"n7"});
    }
}

void TestWatchList::badFileAtStart_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file; "-": a database without the table
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray() << "文件不存在";
    QTest::newRow("not SQLite") << QByteArray("Standard Jet DB\0\0\0\0\0\0\0\0\0\0\0\0", 27)
                                << "file is not a database";
    QTest::newRow("no table") << QByteArray("-") << "no such table";
}

void TestWatchList::badFileAtStart()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    FormFixture fixture;
    QFile file(fixture.dbPath());
    file.remove();
    if (content == "-") {
        fixture.sql("create table other(x)");
    } else if (!content.isEmpty()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
    }
    const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : "none";
    file.close();
    try {
        fixture.form().Form_Load();
        QFAIL("the start did not fail");
    } catch (const adodb::Error& error) {
        QVERIFY2(QString::fromUtf8(error.what()).contains(reason), error.what());
        QVERIFY2(QString::fromUtf8(error.what()).contains(fixture.dbPath()), error.what());
    }
    QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : "none", before);
}

void TestWatchList::watchAppendsAndStores()
{
    FormFixture fixture;
    fixture.sql("insert into domain values(1,'one.example'),(2,'two.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    watch(form, {"four.example", "a'b.example", "four.example", ""});
    QCOMPARE(fixture.listEntries(),
        (QStringList {
            "two.example", "one.example", "four.example", "a'b.example", "four.example", ""}));
    QCOMPARE(storedUrls(fixture),
        (QStringList {
            "one.example", "two.example", "four.example", "a'b.example", "four.example", ""}));
    QCOMPARE(form.List1->ListIndex(), -1);
    QVERIFY(fixture.messages.isEmpty());
    // At the next start the newest comes first.
    fixture.window.reset();
    fixture.form().Form_Load();
    QCOMPARE(fixture.listEntries().mid(0, 2), (QStringList {"", "four.example"}));
}

void TestWatchList::deleteRemovesEqualRows_data()
{
    QTest::addColumn<QString>("selected"); // null: nothing selected
    QTest::addColumn<QStringList>("rowsLeft");
    QTest::newRow("one of two equal")
        << "dup.example" << QStringList {"a'b.example", "x' or '1'='1", "", "ok.example"};
    QTest::newRow("quote") << "a'b.example"
                           << QStringList {
                                  "x' or '1'='1", "dup.example", "dup.example", "", "ok.example"};
    QTest::newRow("injection attempt")
        << "x' or '1'='1"
        << QStringList {"a'b.example", "dup.example", "dup.example", "", "ok.example"};
    QTest::newRow("nothing selected") << QString()
                                      << QStringList {"a'b.example", "x' or '1'='1", "dup.example",
                                             "dup.example", "", "ok.example"};
}

void TestWatchList::deleteRemovesEqualRows()
{
    QFETCH(QString, selected);
    QFETCH(QStringList, rowsLeft);
    FormFixture fixture;
    Form1& form = fixture.form();
    form.Form_Load();
    watch(form, {"a'b.example", "x' or '1'='1", "dup.example", "dup.example", "", "ok.example"});
    QStringList entries = fixture.listEntries();
    const int row = selected.isNull() ? -1 : int(entries.indexOf(selected));
    form.List1->setListIndex(row);
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    if (row >= 0)
        entries.removeAt(row);
    QCOMPARE(fixture.listEntries(), entries);
    QCOMPARE(storedUrls(fixture), rowsLeft);
    QCOMPARE(form.List1->ListIndex(), -1);
    QVERIFY(fixture.messages.isEmpty());
}

void TestWatchList::failedCommandsAreReported()
{
    FormFixture fixture;
    fixture.sql("insert into domain values(1,'kept.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    const auto deleteFirst = [&form] {
        form.List1->setListIndex(0);
        QTest::mouseClick(form.Command3, Qt::LeftButton);
    };
    const auto lastMessageHas = [&fixture](const char* reason) {
        return fixture.messages.back().contains(fixture.dbPath())
            && fixture.messages.back().contains(reason);
    };

    // The file gone: Delete keeps the entry, Watch appends it all the same.
    const QString moved = fixture.dbPath() + ".away";
    QVERIFY(QFile::rename(fixture.dbPath(), moved));
    deleteFirst();
    QVERIFY(lastMessageHas("文件不存在"));
    watch(form, {"new.example"});
    QCOMPARE(fixture.messages.size(), 2);
    QVERIFY(lastMessageHas("文件不存在"));
    QCOMPARE(fixture.listEntries(), (QStringList {"kept.example", "new.example"}));
    QVERIFY(QFile::rename(moved, fixture.dbPath()));

    // A statement refused: the table has gone.
    fixture.sql("alter table domain rename to other");
    deleteFirst();
    QCOMPARE(fixture.messages.size(), 3);
    QVERIFY(fixture.messages.back().contains("no such table"));
    fixture.sql("alter table other rename to domain");

    // The disk full: no file may grow, so the journal cannot be written.
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit before = limit;
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = 512;
    setrlimit(RLIMIT_FSIZE, &limit);
    watch(form, {"full.example"});
    setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldHandler);
    QCOMPARE(fixture.messages.size(), 4);
    QVERIFY(lastMessageHas("无法保存"));
    QCOMPARE(fixture.listEntries().size(), 3);

    // Nothing was left open: with the file sound again, commands work.
    deleteFirst();
    QCOMPARE(fixture.messages.size(), 4);
    QCOMPARE(fixture.listEntries(), (QStringList {"new.example", "full.example"}));
    QCOMPARE(storedUrls(fixture), QStringList {});
}

void TestWatchList::waitsForAnotherCopy()
{
    FormFixture fixture;
    fixture.services.watchListLockWait = std::chrono::milliseconds(300);
    Form1& form = fixture.form();
    form.Form_Load();
    sqlite3* other = nullptr;
    sqlite3_open(fixture.dbPath().toUtf8().constData(), &other);
    // Held briefly: the command waits for it. Held on: the command gives up after its wait.
    for (const bool release : {true, false}) {
        sqlite3_exec(other, "begin immediate", nullptr, nullptr, nullptr);
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (release)
                sqlite3_exec(other, "commit", nullptr, nullptr, nullptr);
        });
        watch(form, {"a.example"});
        releaser.join();
    }
    sqlite3_close(other);
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY2(fixture.messages.front().contains("locked"), qPrintable(fixture.messages.front()));
    QCOMPARE(storedUrls(fixture), QStringList {"a.example"});
}

void TestWatchList::clickQueries()
{
    TestHttpServer server;
    FormFixture fixture(server.base() + "/cgi-bin/whois?domain=");
    fixture.sql("insert into domain values(1,'one.example'),(2,'two.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    ListBox* list = form.List1;
    QCoreApplication::processEvents();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
        list->visualRect(list->model()->index(1, 0)).center());
    QCOMPARE(form.tb_url->text(), QString("one.example"));
    QCOMPARE(form.lb_url->text(), QString("one.example"));
    QCOMPARE(server.targets(), std::vector<QByteArray> {"/cgi-bin/whois?domain=one.example"});
    QTest::keyClick(list, Qt::Key_Up); // the keyboard selects too
    QCOMPARE(form.lb_url->text(), QString("two.example"));
    QCOMPARE(server.targets().size(), size_t(2));
}

void TestWatchList::onlyLeftPressSelects_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("row"); // pressed; entry 0 is selected before
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("queries");
    QTest::newRow("left on another") << Qt::LeftButton << Qt::KeyboardModifiers() << 1 << 1 << 1;
    QTest::newRow("right on another") << Qt::RightButton << Qt::KeyboardModifiers() << 1 << 0 << 0;
    QTest::newRow("middle on another")
        << Qt::MiddleButton << Qt::KeyboardModifiers() << 1 << 0 << 0;
    QTest::newRow("Ctrl left on the selected")
        << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ControlModifier) << 0 << 0 << 1;
    QTest::newRow("right below the entries")
        << Qt::RightButton << Qt::KeyboardModifiers() << 5 << 0 << 0;
}

// What "删除" deletes is what the text box and the labels show: only a click changes both.
void TestWatchList::onlyLeftPressSelects()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, row);
    QFETCH(int, selected);
    QFETCH(int, queries);
    TestHttpServer server;
    FormFixture fixture(server.base() + "/cgi-bin/whois?domain=");
    fixture.sql("insert into domain values(1,'one.example'),(2,'two.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    ListBox* list = form.List1;
    QCoreApplication::processEvents();
    const QRect first = list->visualRect(list->model()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    QTest::mouseClick(
        list->viewport(), button, modifiers, first.center() + QPoint(0, row * first.height()));
    QCOMPARE(list->ListIndex(), selected);
    QCOMPARE(form.tb_url->text(), list->Text());
    QCOMPARE(server.targets().size(), size_t(1 + queries));
}

// The window's record sets are declared before its connection, so the connection goes first.
void TestWatchList::recordSetOutlivesConnection()
{
    FormFixture fixture;
    fixture.sql("insert into domain values(1,'a.example')");
    adodb::Recordset rs;
    {
        adodb::Connection conn;
        conn.Open(fixture.dbPath());
        rs.Open("select * from [domain]", conn);
        QCOMPARE(rs.RecordCount(), 1);
    }
    QCOMPARE(rs.State(), int(adodb::adStateClosed));
    // The file is free again: a writer need not wait.
    fixture.sql("insert into domain values(2,'b.example')");
}

void TestWatchList::survivesBeingKilled()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("domain.mdb");
    makeEmptyDatabase(path);
    QRandomGenerator random(20261207);
    QStringList stored;
    for (int round = 0; round < 10; ++round) {
        Host host(dir.path());
        QVERIFY(host.waitFor("shown"));
        host.send("watch-loop r" + QByteArray::number(round) + "-");
        QVERIFY(host.waitFor("stored"));
        host.waitFor("never", int(random.bounded(10, 300)));
        host.kill();
        QVERIFY(host.lines("error: ").isEmpty());
        stored += host.lines("stored ");
    }
    QCOMPARE(column(path, "pragma integrity_check"), QStringList {"ok"});
    const QStringList rows = column(path, "select url from domain order by id desc");
    for (const QString& text : stored)
        QVERIFY2(rows.contains(text), qPrintable(text));
    qInfo("10 kills: %lld domains reported stored, %lld rows kept", qint64(stored.size()),
        qint64(rows.size()));

    Host after(dir.path());
    QVERIFY(after.waitFor("shown"));
    after.send("list");
    QVERIFY(after.waitFor("list "));
    QCOMPARE(after.lines("list ").front().split('|'), rows);
}

// Two copies watching at once on one file: both are served, nothing is lost or damaged.
void TestWatchList::twoCopies()
{
    QTemporaryDir dir;
    makeEmptyDatabase(dir.filePath("domain.mdb"));
    Host a(dir.path());
    Host b(dir.path());
    QVERIFY(a.waitFor("shown") && b.waitFor("shown"));
    a.send("watch-loop a");
    b.send("watch-loop b");
    QVERIFY(a.waitFor("stored a5") && b.waitFor("stored b5"));
    a.kill();
    b.kill();
    for (Host* host : {&a, &b})
        QVERIFY2(host->lines("error: ").isEmpty(), qPrintable(host->lines("error: ").join('\n')));
    QCOMPARE(column(dir.filePath("domain.mdb"), "pragma integrity_check"), QStringList {"ok"});
    const QStringList rows = column(dir.filePath("domain.mdb"), "select url from domain");
    for (const QString& text : a.lines("stored ") + b.lines("stored "))
        QVERIFY2(rows.contains(text), qPrintable(text));
}

QTEST_MAIN(TestWatchList)
#include "test_watchlist.moc"
