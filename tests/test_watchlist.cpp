// The watch list on real SQLite files: the database layer and the Watch, Delete and click
// commands driven through the window.
#include <sys/resource.h>

#include <csignal>
#include <thread>

#include <QtTest>

#include <sqlite3.h>

#include "support/formfixture.h"
#include "support/httpserver.h"
#include "watchlist/watchlist.h"

namespace {

// Holds the write lock of a database from another connection, as a second copy would.
class LockHolder
{
public:
    explicit LockHolder(const QString& path)
    {
        sqlite3_open(path.toUtf8().constData(), &m_db);
        sqlite3_exec(m_db, "begin immediate", nullptr, nullptr, nullptr);
    }
    ~LockHolder() { sqlite3_close(m_db); }
    void release() { sqlite3_exec(m_db, "commit", nullptr, nullptr, nullptr); }

private:
    sqlite3* m_db = nullptr;
};

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

void selectEntry(ListBox* list, int row)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->entryRect(row).center());
}

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
    void deleteWithoutSelection();
    void failedCommandsAreReported();
    void diskFull();
    void waitsForAnotherCopy();
    void clickQueries();
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
    QTest::newRow("semicolon and quote") << "/tmp/a;b\"c"
                                         << "/tmp/a;b\"c/domain.mdb";
}

void TestWatchList::paths()
{
    QFETCH(QString, dir);
    QFETCH(QString, path);
    QCOMPARE(databasePath(dir), path);
    const QString connection = adodb::connectionString(path);
    QVERIFY(connection.startsWith("Provider=SQLite;Data Source="));
    QVERIFY(connection.endsWith(";Persist Security Info=False"));
    QCOMPARE(adodb::dataSourceOf(connection), path);
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
    // Watch fills in the defaults of every other column.
    if (QTest::currentDataTag() == QByteArray("extra columns")) {
        QTest::mouseClick(fixture.form().Command2, Qt::LeftButton);
        QCOMPARE(column(fixture.dbPath(), "select note || added from domain where id = 3"),
            QStringList {"n7"});
    }
}

void TestWatchList::badFileAtStart_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
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
    QFile::remove(fixture.dbPath());
    if (content == "-") {
        fixture.sql("create table other(x)");
        content.clear();
    } else if (!content.isEmpty()) {
        QFile file(fixture.dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const auto bytes = [&] {
        QFile file(fixture.dbPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("none");
    };
    const QByteArray before = bytes();
    try {
        fixture.form().Form_Load();
        QFAIL("the start did not fail");
    } catch (const adodb::Error& error) {
        const QString message = QString::fromUtf8(error.what());
        QVERIFY2(message.contains(reason), error.what());
        if (reason != "no such table")
            QVERIFY2(message.contains(fixture.dbPath()), error.what());
    }
    QCOMPARE(bytes(), before);
}

void TestWatchList::watchAppendsAndStores()
{
    FormFixture fixture;
    fixture.sql("insert into domain values(1,'one.example'),(2,'two.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    for (const QString& text : {"four.example", "a'b.example", "four.example", ""}) {
        form.tb_url->setText(text);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
    }
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
    QCOMPARE(fixture.listEntries().first(), QString(""));
    QCOMPARE(fixture.listEntries().at(1), QString("four.example"));
}

void TestWatchList::deleteRemovesEqualRows_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("rowsLeft");
    QTest::newRow("one of two equal")
        << "dup.example" << QStringList {"a'b.example", "x' or '1'='1", "ok.example"};
    QTest::newRow("quote") << "a'b.example"
                           << QStringList {
                                  "x' or '1'='1", "dup.example", "dup.example", "ok.example"};
    QTest::newRow("injection attempt")
        << "x' or '1'='1"
        << QStringList {"a'b.example", "dup.example", "dup.example", "ok.example"};
}

void TestWatchList::deleteRemovesEqualRows()
{
    QFETCH(QString, selected);
    QFETCH(QStringList, rowsLeft);
    FormFixture fixture;
    Form1& form = fixture.form();
    form.Form_Load();
    for (const QString& text :
        {"a'b.example", "x' or '1'='1", "dup.example", "dup.example", "ok.example"}) {
        form.tb_url->setText(text);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
    }
    QStringList entries = fixture.listEntries();
    const int row = int(entries.indexOf(selected));
    form.List1->setListIndex(row);
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    entries.removeAt(row);
    QCOMPARE(fixture.listEntries(), entries);
    QCOMPARE(storedUrls(fixture), rowsLeft);
    QCOMPARE(form.List1->ListIndex(), -1);
    QVERIFY(fixture.messages.isEmpty());
}

void TestWatchList::deleteWithoutSelection()
{
    FormFixture fixture;
    fixture.sql("insert into domain values(1,''),(2,'a.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QCOMPARE(fixture.listEntries(), (QStringList {"a.example", ""}));
    QCOMPARE(storedUrls(fixture), (QStringList {"", "a.example"}));
    QVERIFY(fixture.messages.isEmpty());
}

void TestWatchList::failedCommandsAreReported()
{
    FormFixture fixture;
    fixture.sql("insert into domain values(1,'kept.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    const QString moved = fixture.dbPath() + ".away";
    QVERIFY(QFile::rename(fixture.dbPath(), moved));

    form.List1->setListIndex(0);
    QTest::mouseClick(form.Command3, Qt::LeftButton); // Delete: the entry stays
    form.tb_url->setText("new.example");
    QTest::mouseClick(form.Command2, Qt::LeftButton); // Watch: the entry is appended all the same
    QCOMPARE(fixture.messages.size(), 2);
    for (const QString& message : fixture.messages)
        QVERIFY2(message.contains(fixture.dbPath()) && message.contains("文件不存在"),
            qPrintable(message));
    QCOMPARE(fixture.listEntries(), (QStringList {"kept.example", "new.example"}));

    // A refused statement: the table has gone.
    QVERIFY(QFile::rename(moved, fixture.dbPath()));
    fixture.sql("alter table domain rename to other");
    form.List1->setListIndex(0);
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QCOMPARE(fixture.messages.size(), 3);
    QVERIFY(fixture.messages.back().contains("no such table"));
    QCOMPARE(fixture.listEntries().size(), 2);

    // Nothing was left open: once the file is sound again, commands work.
    fixture.sql("alter table other rename to domain");
    form.List1->setListIndex(0);
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QCOMPARE(fixture.messages.size(), 3);
    QCOMPARE(fixture.listEntries(), QStringList {"new.example"});
    QCOMPARE(storedUrls(fixture), QStringList {});
}

void TestWatchList::diskFull()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    form.Form_Load();
    // No file may grow past a few bytes: the journal cannot be written.
    rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = before;
    tiny.rlim_cur = 512;
    setrlimit(RLIMIT_FSIZE, &tiny);
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY2(
        fixture.messages.front().contains(fixture.dbPath()), qPrintable(fixture.messages.front()));
    QCOMPARE(fixture.listEntries(), QStringList {"不要输入www."});
    QCOMPARE(storedUrls(fixture), QStringList {});
}

void TestWatchList::waitsForAnotherCopy()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    form.Form_Load();
    {
        LockHolder other(fixture.dbPath());
        std::thread release([&other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            other.release();
        });
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        release.join();
    }
    QVERIFY(fixture.messages.isEmpty());
    QCOMPARE(storedUrls(fixture), QStringList {"不要输入www."});

    LockHolder stillHolding(fixture.dbPath());
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY2(fixture.messages.front().contains("locked"), qPrintable(fixture.messages.front()));
}

void TestWatchList::clickQueries()
{
    TestHttpServer server;
    FormFixture fixture(server.base() + "/cgi-bin/whois?domain=");
    fixture.sql("insert into domain values(1,'one.example'),(2,'two.example')");
    Form1& form = fixture.form();
    form.Form_Load();
    selectEntry(form.List1, 1);
    QCOMPARE(form.tb_url->text(), QString("one.example"));
    QCOMPARE(form.lb_url->text(), QString("one.example"));
    QCOMPARE(server.targets(), std::vector<QByteArray> {"/cgi-bin/whois?domain=one.example"});
    // The keyboard selects too.
    QTest::keyClick(form.List1, Qt::Key_Up);
    QCOMPARE(form.lb_url->text(), QString("two.example"));
    QCOMPARE(server.targets().size(), size_t(2));
}

QTEST_MAIN(TestWatchList)
#include "test_watchlist.moc"
