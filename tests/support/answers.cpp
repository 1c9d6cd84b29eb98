#include "answers.h"

#include <QFile>

#include "service/reading/rdapreading.h"
#include "service/reading/whoistext.h"
#include "support/fakeserver.h"

QList<QStringList> answerRows(const QString& folder)
{
    return tableIn(folder.toLocal8Bit().constData(), "expected.tsv", QStringLiteral("expect-fail"));
}

LookupResult readAnswerOf(const QStringList& row, const QString& folder)
{
    QFile file(folder + u'/' + row[0]);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no answer %s", qPrintable(file.fileName()));
    const QByteArray bytes = file.readAll();
    LookupResult result {Outcome::Unavailable, {}, {row[1]}, {}};
    if (row[0].endsWith(QLatin1String(".json"))) {
        const RdapReading rdap = readRdapDomain(bytes);
        result.outcome = rdap.valid ? Outcome::Registered : Outcome::Unavailable;
        result.record = rdap.record;
    } else {
        const WhoisReading reading = readAnswerFrom(row[1], row[2], bytes);
        result.outcome = reading.outcome;
        result.record = reading.record;
    }
    return result;
}
