#include "watchlistfile.h"

#include <string>

#include <QDir>

#include <sqlite3.h>

#include "watching/watchstore.h"

void writeWatchList(const QString& dir, int rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(QDir(dir).filePath("domain.mdb").toUtf8().constData(), &db);
    const std::string sql
        = "create table domain(id integer primary key autoincrement, url text);"
          "with recursive n(i) as (select 1 union all select i + 1 from n where i < "
        + std::to_string(rows)
        + ") insert into domain(url) select 'domain' || i || '.example' from n;";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void writeWatchState(const QString& dir, int rows)
{
    WatchStore store(watchStatePath(dir));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 1; i <= rows; ++i) {
        WatchRecord record;
        record.known = true;
        record.facts.domain = QStringLiteral("domain%1.example").arg(i);
        record.facts.registrar = QStringLiteral("Example Registrar, Inc.");
        record.facts.registrarId = QStringLiteral("292");
        record.facts.registrant = QStringLiteral("Example Holder");
        record.facts.created = now.addYears(-5);
        record.facts.expires = now.addDays(i % 365);
        record.facts.status = {QStringLiteral("client transfer prohibited")};
        record.facts.source = QStringLiteral("RDAP: https://rdap.example/domain/x");
        record.checked = now.addSecs(-3600);
        record.due = now.addDays(1);
        record.history = {{ChangeKind::Renewed, record.checked, QStringLiteral("2024-01-01"),
            QStringLiteral("2025-01-01")}};
        store.save(QStringLiteral("domain%1.example").arg(i), record);
    }
}
