#include "watchlist.h"

#include <QDir>

QString databasePath(const QString& programDir)
{
    QString dir = QDir::toNativeSeparators(programDir);
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir + QStringLiteral("domain.mdb");
}

QString sqlQuoted(const QString& text)
{
    QString quoted = text;
    return quoted.replace(u'\'', QStringLiteral("''"));
}
