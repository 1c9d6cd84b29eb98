// Real registries' answers (tests/answers), each read as the service reads it (RDAP for a .json
// file, whois text otherwise), rendered to the page and read back as the window reads it. A
// registry is a file and a row of expected.tsv; a "# expect-fail: why" line under a row marks what
// is not read yet.
#include <QtTest>

#include "whoispage/cut.h"
#include "service/http/page.h"
#include "service/reading/rdapreading.h"
#include "service/reading/whoistext.h"
#include "support/answers.h"

class TestAnswers : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
};

void TestAnswers::answers_data()
{
    QTest::addColumn<QStringList>("row");
    for (const QStringList& row : answerRows()) {
        QVERIFY2(row.size() == 10, qPrintable(row.join(u' ')));
        QTest::newRow(qPrintable(row[0])) << row;
    }
}

void TestAnswers::answers()
{
    QFETCH(QStringList, row);
    const LookupResult result = readAnswerOf(row);
    QString page = decodeAnsi(whoisPage(row[2], result).body);
    const WhoisFacts read = readWhoisPage(stripBlanks(page));
    const QStringList states = {"registered", "free", "reserved"};
    const QList<Outcome> outcomes
        = {Outcome::Registered, Outcome::NotRegistered, Outcome::Reserved};
    const Outcome meant = outcomes.value(states.indexOf(row[3]), Outcome::Unavailable);
    LookupResult intended {meant, {}, {}, {}};
    WhoisFacts facts = intendedFacts(intended);
    if (meant == Outcome::Registered) {
        facts.cop = displayValue(row[4]);
        facts.truename = row[5].isEmpty() ? kConfidential : displayValue(row[5]);
        facts.mail = row[6].isEmpty() ? kConfidential : displayValue(row[6]);
        facts.bdate = row[7].isEmpty() ? QStringLiteral(" ") : row[7];
        facts.edate = row[8].isEmpty() ? QStringLiteral(" ") : row[8];
    }
    if (!row[9].isEmpty())
        QEXPECT_FAIL("", qPrintable(row[9]), Abort);
    QCOMPARE((QStringList {outcomeName(result.outcome), read.cop, read.truename, read.mail,
                 read.bdate, read.edate}),
        (QStringList {
            outcomeName(meant), facts.cop, facts.truename, facts.mail, facts.bdate, facts.edate}));
}

QTEST_GUILESS_MAIN(TestAnswers)
#include "test_answers.moc"
