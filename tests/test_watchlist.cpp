// The watch list on real SQLite files: the start-up listing and the Watch, Delete and click
// commands driven through the window, with the file missing, foreign or held by another copy.
#include <thread>

#include <QtTest>

#include <sqlite3.h>

#include "support/formfixture.h"
#include "support/fakeserver.h"
#include "window/program.h"

namespace {

void watch(Form1& form, const QStringList& texts)
{
    for (const QString& text : texts) {
        form.domainBox->setText(text);
        QTest::mouseClick(form.watchButton, Qt::LeftButton);
    }
}

void deleteRow(Form1& form, int row)
{
    form.watchList->setSelectedRow(row);
    QTest::mouseClick(form.deleteButton, Qt::LeftButton);
}

} // namespace

class TestWatchList : public QObject
{
    Q_OBJECT
private slots:
    void listing_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QStringList>("entries"); // listed at start
        QTest::addColumn<QString>("selected"); // deleted after the watch; null: nothing selected
        QTest::addColumn<QString>("left"); // the file's rows afterwards
        QTest::newRow("empty, nothing selected")
            << "" << QStringList {} << QString() << "four.example|x' or '1'='1|four.example|";
        QTest::newRow("newest first, one of two equal")
            << "insert into domain values(1,'one'),(2,'two'),(3,'three');"
            << QStringList {"three", "two", "one"} << "four.example"
            << "one|two|three|x' or '1'='1|";
        QTest::newRow("null rows skipped, quotes")
            << "insert into domain values(1,'a'),(2,null),(3,''),(4,42);"
            << QStringList {"42", "", "a"} << "x' or '1'='1"
            << "a|||42|four.example|four.example|";
        QTest::newRow("extra columns, the empty entry")
            << "alter table domain add column note text default 'n';"
               "insert into domain(url) values('x.example'),('y.example');"
            << QStringList {"y.example", "x.example"} << ""
            << "x.example|y.example|four.example|x' or '1'='1|four.example";
    }

    // Watch appends at the end and adds a row every time, leaving other columns to their defaults;
    // Delete removes every row equal to the selected entry but that entry alone from the list.
    void listing()
    {
        QFETCH(QString, rows);
        QFETCH(QStringList, entries);
        QFETCH(QString, selected);
        QFETCH(QString, left);
        FormFixture fixture;
        fixture.sql(rows);
        Form1& form = fixture.form();
        QCOMPARE(fixture.listEntries(), entries);
        const QStringList watched {"four.example", "x' or '1'='1", "four.example", ""};
        watch(form, watched);
        entries += watched;
        QCOMPARE(fixture.listEntries(), entries);
        QCOMPARE(form.watchList->selectedRow(), -1);
        const int row = selected.isNull() ? -1 : int(entries.indexOf(selected));
        deleteRow(form, row);
        if (row >= 0)
            entries.removeAt(row);
        QCOMPARE(fixture.listEntries(), entries);
        QCOMPARE(fixture.sql("select url from domain order by id").join('|'), left);
        QCOMPARE(form.watchList->selectedRow(), -1);
        QVERIFY(fixture.messages.isEmpty());
    }

    void badFileAtStart_data()
    {
        // content, empty: no file; "-": a database without the table
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QByteArray() << "文件不存在";
        QTest::newRow("not SQLite") << QByteArray("Standard Jet DB\0\0\0\0\0\0\0\0\0\0\0\0", 27)
                                    << "file is not a database";
        QTest::newRow("no table") << QByteArray("-") << "no such table";
    }

    void badFileAtStart()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        FormFixture fixture;
        QFile file(fixture.dbPath());
        file.remove();
        if (content == "-")
            fixture.sql("create table other(x)");
        else if (!content.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(content), file.close();
        const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : "none";
        file.close();
        // The start fails before the window shows, with one message naming the file.
        QCOMPARE(runForm1(fixture.services), 1);
        QCOMPARE(fixture.messages.size(), 1);
        const QString& message = fixture.messages.front();
        QVERIFY2(message.startsWith("程序无法启动") && message.contains(reason)
                && message.contains(fixture.dbPath()),
            qPrintable(message));
        QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : "none", before);
    }

    void failedCommandsAreReported()
    {
        FormFixture fixture;
        fixture.sql("insert into domain values(1,'kept.example')");
        Form1& form = fixture.form();
        // The file gone: Delete keeps the entry, Watch appends it all the same, neither makes a
        // file.
        const QString moved = fixture.dbPath() + ".away";
        QVERIFY(QFile::rename(fixture.dbPath(), moved));
        deleteRow(form, 0);
        watch(form, {"new.example"});
        QCOMPARE(fixture.messages.size(), 2);
        for (const QString& message : fixture.messages)
            QVERIFY(message.contains(fixture.dbPath()) && message.contains("文件不存在"));
        QCOMPARE(fixture.listEntries(), (QStringList {"kept.example", "new.example"}));
        QVERIFY(QFile::rename(moved, fixture.dbPath()));
        // A statement refused: the table has gone.
        fixture.sql("alter table domain rename to other");
        deleteRow(form, 0);
        QCOMPARE(fixture.messages.size(), 3);
        QVERIFY(fixture.messages.back().contains("no such table"));
        fixture.sql("alter table other rename to domain");
        // Nothing was left open: with the file sound again, commands work.
        deleteRow(form, 0);
        QCOMPARE(fixture.messages.size(), 3);
        QCOMPARE(fixture.listEntries(), QStringList {"new.example"});
    }

    void waitsForAnotherCopy()
    {
        FormFixture fixture;
        fixture.services.watchListLockWait = std::chrono::milliseconds(300);
        Form1& form = fixture.form();
        sqlite3* other = nullptr;
        sqlite3_open(fixture.dbPath().toUtf8().constData(), &other);
        PaintCounter counter;
        form.registrarLabel->installEventFilter(&counter);
        // Held briefly: the command waits for it. Held on: the command gives up after its wait.
        // Either way the window paints meanwhile.
        for (const bool release : {true, false}) {
            sqlite3_exec(other, "begin immediate", nullptr, nullptr, nullptr);
            counter.paints = 0;
            std::thread releaser([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                QMetaObject::invokeMethod(form.registrarLabel, "setText", Qt::QueuedConnection,
                    Q_ARG(QString, release ? "a" : "b"));
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
                if (release)
                    sqlite3_exec(other, "commit", nullptr, nullptr, nullptr);
            });
            watch(form, {"a.example"});
            const int paintedMeanwhile = counter.paints; // nothing has run since it returned
            releaser.join();
            QVERIFY(paintedMeanwhile > 0);
        }
        sqlite3_close(other);
        QCOMPARE(fixture.messages.size(), 1);
        QVERIFY2(fixture.messages.front().contains("locked"), qPrintable(fixture.messages.front()));
        QCOMPARE(fixture.sql("select url from domain"), QStringList {"a.example"});
    }

    void onlyLeftPressSelects_data()
    {
        QTest::addColumn<Qt::MouseButton>("button"); // NoButton: the Down key
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<int>("row"); // pressed; entry 0 is selected before by a click
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("queries");
        const Qt::KeyboardModifiers none, ctrl(Qt::ControlModifier);
        QTest::newRow("left on another") << Qt::LeftButton << none << 1 << 1 << 1;
        QTest::newRow("the keyboard") << Qt::NoButton << none << 1 << 1 << 1;
        QTest::newRow("right on another") << Qt::RightButton << none << 1 << 0 << 0;
        QTest::newRow("Ctrl left on the selected") << Qt::LeftButton << ctrl << 0 << 0 << 1;
        QTest::newRow("right below the entries") << Qt::RightButton << none << 5 << 0 << 0;
    }

    // A click queries the entry; what "删除" deletes is always what the text box and the labels
    // show.
    void onlyLeftPressSelects()
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
        ListBox* list = form.watchList;
        QCoreApplication::processEvents();
        const QRect first = list->visualRect(list->model()->index(0, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(server.targets(), std::vector<QByteArray> {"/cgi-bin/whois?domain=two.example"});
        if (button == Qt::NoButton)
            QTest::keyClick(list, Qt::Key_Down);
        else
            QTest::mouseClick(list->viewport(), button, modifiers,
                first.center() + QPoint(0, row * first.height()));
        QCOMPARE(list->selectedRow(), selected);
        QCOMPARE(form.domainBox->text(), list->entry(selected));
        QCOMPARE(form.domainLabel->text(), list->entry(selected));
        QCOMPARE(server.targets().size(), size_t(1 + queries));
    }
};

QTEST_MAIN(TestWatchList)
#include "test_watchlist.moc"
