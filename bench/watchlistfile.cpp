#include "watchlistfile.h"

#include <string>

#include <QDir>

#include <sqlite3.h>

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
