// Share of the facts stated in the registry answers of tests/answers that the window shows right,
// per fact, read as the test runner reads them. Prints one line per fact, then the misses.
//   answers_tally [folder]
#include <cstdio>

#include <QDir>
#include <QFile>

#include "whoispage/cut.h"
#include "service/http/page.h"
#include "service/reading/rdapreading.h"
#include "service/reading/whoistext.h"
#include "support/answers.h"

int main(int argc, char** argv)
{
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(ANSWERS_DIR);
    const QStringList names = {"state", "registrar", "registrant", "email", "created", "expires"};
    int stated[6] = {}, right[6] = {}, wrong[6] = {};
    QStringList misses;
    for (const QStringList& row : answerRows(dir)) {
        const LookupResult result = readAnswerOf(row, dir);
        QString page = decodeAnsi(whoisPage(row[2], result).body);
        const WhoisFacts read = readWhoisPage(stripBlanks(page));
        const bool registered = result.outcome == Outcome::Registered;
        const QString state = registered ? QStringLiteral("registered")
            : result.outcome == Outcome::NotRegistered
            ? QStringLiteral("free")
            : QString::fromLatin1(outcomeName(result.outcome));
        const auto blank
            = [](const QString& v, const QString& none) { return v == none ? QString() : v; };
        const QStringList shown = {state, registered ? read.cop : QString(),
            registered ? blank(read.truename, kConfidential) : QString(),
            registered ? blank(read.mail, kConfidential) : QString(), blank(read.bdate, " "),
            blank(read.edate, " ")};
        for (int i = 0; i < 6; ++i) {
            const QString meant = i == 0 ? row[3] : i < 4 ? displayValue(row[3 + i]) : row[3 + i];
            if (!meant.isEmpty())
                ++stated[i];
            if (!meant.isEmpty() && shown[i] == meant)
                ++right[i];
            else if (!shown[i].isEmpty() && shown[i] != meant)
                ++wrong[i];
            if (shown[i] != meant)
                misses << QStringLiteral("%1 %2: shown \"%3\", meant \"%4\"")
                              .arg(row[0], names[i], shown[i], meant);
        }
    }
    int allStated = 0, allRight = 0;
    for (int i = 0; i < 6; ++i) {
        std::printf("%-10s %4d of %4d right (%3.0f %%), %d wrong values shown\n",
            qPrintable(names[i]), right[i], stated[i],
            stated[i] ? 100.0 * right[i] / stated[i] : 0.0, wrong[i]);
        if (i > 0) {
            allStated += stated[i];
            allRight += right[i];
        }
    }
    std::printf("facts      %4d of %4d right (%3.0f %%)\n", allRight, allStated,
        allStated ? 100.0 * allRight / allStated : 0.0);
    for (const QString& miss : misses)
        std::printf("%s\n", qPrintable(miss));
    return 0;
}
