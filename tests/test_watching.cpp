// Watching the watch list, without window or network: the service's RDAP answers read into facts,
// the changes between two checks, the schedule on a fake clock, and the state file.
#include <QtTest>

#include "support/fakeserver.h"
#include "support/formfixture.h"
#include "support/watchfixture.h"
#include "watching/lifecycle.h"
#include "watching/schedule.h"
#include "watching/watchstore.h"

namespace {

const QDateTime kThen(QDate(2024, 9, 1), QTime(0, 0), Qt::UTC);

QList<QStringList> table(const char* name)
{
    return tableIn(WATCHING_FIXTURES, name);
}

struct FakeClock : ScheduleClock
{
    QDateTime time = kThen;
    QDateTime alarm;
    QDateTime now() const override { return time; }
    void wakeAt(const QDateTime& when) override { alarm = when; }
};

// A schedule on a fake clock whose checks each take two seconds, logged as "name@seconds".
struct Run
{
    FakeClock clock;
    CheckPolicy policy;
    QStringList log;
    QString running;
    CheckSchedule schedule {clock, policy, [this](const QString& name) {
                                QVERIFY2(running.isEmpty(), "two checks at once");
                                running = name;
                                log << name + '@' + QString::number(kThen.secsTo(clock.time));
                            }};

    // Wakes the schedule as its timer would until seconds after kThen; each check ends two
    // seconds after it starts, due again in a week, holding all others until holdAll.
    void until(qint64 seconds, const QDateTime& holdAll = {})
    {
        while (clock.alarm.isValid() && clock.alarm <= kThen.addSecs(seconds)) {
            clock.time = std::max(clock.time, clock.alarm);
            schedule.wake();
            if (running.isEmpty())
                continue;
            clock.time = clock.time.addSecs(2);
            schedule.finished(std::exchange(running, {}), clock.time.addDays(7), holdAll);
        }
    }
};

} // namespace

class TestWatching : public QObject
{
    Q_OBJECT
private slots:
    void answer_data()
    {
        QTest::addColumn<QStringList>("row");
        for (const QStringList& row : table("answers.tsv"))
            QTest::newRow(qPrintable(row[0])) << row;
    }

    void answer()
    {
        QFETCH(QStringList, row);
        const QString file = row[2];
        const QByteArray body = file == u"-" ? QByteArray()
            : file.endsWith(u".json")        ? fixtureFile(WATCHING_FIXTURES, qPrintable(file))
                                             : file.toUtf8();
        const auto header
            = [](const QString& value) { return value == u"-" ? QByteArray() : value.toLatin1(); };
        const CheckAnswer answer
            = readCheckAnswer(row[1].toInt(), body, header(row[3]), header(row[4]), kThen);
        const QStringList kinds {"facts", "free", "not-a-domain", "failed"};
        QCOMPARE(kinds.at(int(answer.kind)), row[5]);
        if (answer.kind == CheckAnswer::Kind::Facts || answer.kind == CheckAnswer::Kind::Free)
            QCOMPARE(answer.facts, factsFrom(row[6]));
        else
            QCOMPARE(answer.failure, row[6]);
        QCOMPARE(answer.maxAgeSeconds, row[7].toLongLong());
        QCOMPARE(
            answer.retryAfter, row[8] == u"-" ? QDateTime() : kThen.addSecs(row[8].toLongLong()));
    }

    void changes_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("kinds");
        for (const QStringList& row : table("changes.tsv"))
            QTest::newRow(qPrintable(row[0])) << row[1] << row[2] << row[3];
    }

    void changes()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, kinds);
        QStringList found;
        for (const Change& change : detectChanges(factsFrom(before), factsFrom(after), kThen))
            found << changeKindName(change.kind);
        QCOMPARE(found.isEmpty() ? "-" : found.join(u','), kinds);
    }

    // After a check at kThen: the marker, and when the next check is due.
    void state_data()
    {
        QTest::addColumn<QString>("facts"); // "-": the check failed; expires in days from then
        QTest::addColumn<int>("failures"); // in a row, this one included
        QTest::addColumn<qint64>("maxAge");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<quint32>("colour");
        QTest::addColumn<double>("hours"); // to the next check
        using namespace markerColour;
        const auto row = [](const char* name, const char* facts, int failures, qint64 maxAge,
                             const char* marker, quint32 colour, double hours) {
            QTest::newRow(name) << facts << failures << maxAge << QString(marker) << colour
                                << hours;
        };
        row("200 days", "registered;expires=+200", 0, -1, "200天", kCalm, 168);
        row("91 days", "registered;expires=+91", 0, -1, "91天", kCalm, 168);
        row("90 days", "registered;expires=+90", 0, -1, "90天", kCalm, 24);
        row("31 days", "registered;expires=+31", 0, -1, "31天", kCalm, 24);
        row("30 days", "registered;expires=+30", 0, -1, "30天", kSoon, 6);
        row("8 days", "registered;expires=+8", 0, -1, "8天", kSoon, 6);
        row("7 days", "registered;expires=+7", 0, -1, "7天", kUrgent, 6);
        row("today", "registered;expires=+0", 0, -1, "0天", kUrgent, 6);
        row("past expiry", "registered;expires=-3", 0, -1, "已过期", kUrgent, 6);
        row("redemption", "registered;expires=-50;status=redemption period", 0, -1, "赎回期",
            kUrgent, 6);
        row("pending delete", "registered;expires=-80;status=pending delete", 0, -1, "待删除",
            kUrgent, 6);
        row("free", "free", 0, -1, "未注册", kFree, 24);
        row("reserved", "reserved;status=inactive", 0, -1, "保留", kCalm, 168);
        row("no expiry given", "registered", 0, -1, "已注册", kCalm, 168);
        row("max-age beyond the interval", "registered;expires=+10", 0, 86400, "10天", kSoon, 24);
        row("max-age within it", "free", 0, 60, "未注册", kFree, 24);
        row("first failure", "-", 1, -1, "?", kCalm, 0.25);
        row("second", "-", 2, -1, "?", kCalm, 0.5);
        row("seventh", "-", 7, -1, "?", kCalm, 16);
        row("eighth: a day", "-", 8, -1, "?", kCalm, 24);
        row("twentieth: still a day", "-", 20, -1, "?", kCalm, 24);
        row("failure, max-age longer", "-", 1, 3600, "?", kCalm, 1);
    }

    void state()
    {
        QFETCH(QString, facts);
        QFETCH(int, failures);
        QFETCH(qint64, maxAge);
        QFETCH(QString, marker);
        QFETCH(quint32, colour);
        QFETCH(double, hours);
        // Days are counted between local dates: the expiry is set at local noon.
        const QDateTime now = QDateTime(kThen.toLocalTime().date(), QTime(12, 0)).toUTC();
        CheckAnswer answer;
        answer.maxAgeSeconds = maxAge;
        if (facts != u"-") {
            answer.facts = factsFrom(QString(facts).replace(
                QRegularExpression("expires=[-+]\\d+"), "expires=2000-01-01"));
            answer.kind = answer.facts.presence == Presence::Free ? CheckAnswer::Kind::Free
                                                                  : CheckAnswer::Kind::Facts;
            const QRegularExpressionMatch days
                = QRegularExpression("expires=([-+]\\d+)").match(facts);
            if (days.hasMatch())
                answer.facts.expires = now.addDays(days.captured(1).toInt());
        }
        WatchRecord record;
        record.failures = failures - 1;
        const WatchRecord after = applyAnswer(record, answer, now, CheckPolicy {});
        const Marker shown = markerFor(after, now);
        QCOMPARE(shown.text, marker);
        QCOMPARE(shown.colour, colour);
        QCOMPARE(now.secsTo(after.due), qint64(hours * 3600));
        QCOMPARE(after.failures, failures);
    }

    // Past expiry the tooltip estimates the day the name is free; before it, nothing is guessed.
    void tooltip()
    {
        WatchRecord record;
        record.known = true;
        record.facts = factsFrom("registered;domain=example.com;registrar=R;id=9;expires="
                                 "2024-07-01T12:00:00Z;status=auto renew period;source=RDAP: x");
        record.checked = kThen;
        record.due = kThen.addSecs(6 * 3600);
        record.history = {{ChangeKind::Renewed, kThen, "2023-07-01", "2024-07-01"}};
        const QString lines = describeRecord("Example.com", record, kThen).join('\n');
        for (const char* part : {"example.com\n", "注册商：R（IANA 9）", "到期日期：2024-07-01",
                 "状态：auto renew period", "来源：RDAP: x", "可注册日期：2024-09-19（估计",
                 "到期日期推后（续费）：2023-07-01 → 2024-07-01"})
            QVERIFY2(lines.contains(QString::fromUtf8(part)), qPrintable(lines));
        record.facts.expires = kThen.addDays(40);
        QVERIFY(!describeRecord("example.com", record, kThen).join('\n').contains("可注册日期"));
        QVERIFY(describeRecord("example.com", WatchRecord {}, kThen).isEmpty());
    }

    void oneAtATimeSpacedMostOverdueFirst()
    {
        Run run;
        run.schedule.watch("new1", {});
        run.schedule.watch("old", kThen.addSecs(-7200));
        run.schedule.watch("new2", {});
        run.schedule.watch("later", kThen.addSecs(3600));
        run.schedule.watch("older", kThen.addSecs(-10800));
        run.schedule.watch("gone", {});
        run.schedule.unwatch("gone");
        run.until(7200);
        QCOMPARE(run.log.join(' '), "new1@0 new2@7 older@14 old@21 later@3600");
        QCOMPARE(run.clock.alarm, kThen.addDays(7).addSecs(2)); // new1's turn again
    }

    // The user's query goes first: a running check is abandoned and done again after it.
    void heldForTheUsersQuery()
    {
        Run run;
        run.schedule.watch("a", {});
        run.schedule.watch("b", {});
        run.clock.time = run.clock.alarm;
        run.schedule.wake();
        QCOMPARE(run.schedule.hold(), QString("a"));
        run.running.clear();
        QVERIFY(!run.clock.alarm.isValid());
        QCOMPARE(run.schedule.hold(), QString()); // a second query at once
        run.clock.time = kThen.addSecs(30);
        run.schedule.release();
        QVERIFY(!run.clock.alarm.isValid());
        run.schedule.release();
        run.until(60);
        QCOMPARE(run.log.join(' '), "a@0 a@35 b@42");
    }

    // A Retry-After holds every check until it has passed.
    void retryAfterHoldsAll()
    {
        Run run;
        for (const char* name : {"a", "b", "c"})
            run.schedule.watch(name, {});
        run.until(1000, kThen.addSecs(600));
        QCOMPARE(run.log.join(' '), "a@0 b@600 c@607");
    }

    void store()
    {
        QTemporaryDir dir;
        const QString path = watchStatePath(dir.path());
        WatchRecord record;
        record.known = true;
        record.facts = factsFrom(table("answers.tsv").first()[6]);
        record.checked = kThen;
        record.due = kThen.addDays(7);
        record.failure = "x";
        record.unseen = true;
        record.history = {{ChangeKind::Renewed, kThen, "2024-08-13", "2025-08-13"},
            {ChangeKind::RegistrarChanged, kThen.addSecs(1), "A", "B"}};
        {
            WatchStore store(path);
            store.save("Example.com", record);
            store.save("example.com", WatchRecord {});
            store.save("gone", record);
            store.remove("gone");
            store.save("pruned", record);
            store.keepOnly({"Example.com", "example.com", "never stored"});
        }
        WatchStore store(path);
        const QHash<QString, WatchRecord> all = store.loadAll();
        QCOMPARE(all.keys().size(), 2);
        QCOMPARE(all.value("Example.com"), record);
        QCOMPARE(store.load("Example.com").value(), record);
        QCOMPARE(all.value("example.com"), WatchRecord {});
        QVERIFY(!store.load("gone"));
        QCOMPARE(sql(path, "select count(*) from change"), QStringList {"2"});
        // The history is bounded.
        WatchRecord often;
        often.known = true;
        CheckPolicy policy;
        for (int year = 2025; year < 2040; ++year) {
            CheckAnswer renewed {CheckAnswer::Kind::Facts, factsFrom("registered")};
            renewed.facts.expires = QDateTime(QDate(year, 1, 1), {}, Qt::UTC);
            often = applyAnswer(often, renewed, kThen, policy);
        }
        store.save("often", often);
        QCOMPARE(store.load("often")->history.size(), policy.historyKept);
        QCOMPARE(store.load("often")->history.last().after, QString("2039-01-01"));
    }

    // A copy killed while it writes loses nothing it had saved, and leaves a sound file.
    void killedMidWrite()
    {
        QTemporaryDir dir;
        const QString path = watchStatePath(dir.path());
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {"--write", path});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += writer.readAllStandardOutput()).count('\n') >= 200, 60000);
        writer.kill();
        writer.waitForFinished();
        said += writer.readAllStandardOutput();
        const QList<QByteArray> saved = said.trimmed().split('\n');
        const QHash<QString, WatchRecord> all = WatchStore(path).loadAll();
        QCOMPARE(sql(path, "pragma integrity_check"), QStringList {"ok"});
        for (const QByteArray& n : saved)
            QCOMPARE(all.value("name" + n).failures, n.toInt());
        QVERIFY(all.size() == saved.size() || all.size() == saved.size() + 1);
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Run as "test_watching --write FILE": saves records, saying each number once it is saved,
    // until killed.
    if (argc == 3 && qstrcmp(argv[1], "--write") == 0) {
        WatchStore store(QString::fromLocal8Bit(argv[2]));
        WatchRecord record;
        record.history = {{ChangeKind::Dropped, kThen, {}, {}}};
        for (int n = 0;; ++n) {
            record.failures = n;
            store.save("name" + QString::number(n), record);
            std::printf("%d\n", n);
            std::fflush(stdout);
        }
    }
    TestWatching test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_watching.moc"
