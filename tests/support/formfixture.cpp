#include "formfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <sqlite3.h>

void makeEmptyDatabase(const QString& path)
{
    QFile schema(QStringLiteral(WATCHLIST_SCHEMA));
    QVERIFY(schema.open(QIODevice::ReadOnly));
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, schema.readAll().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

QStringList databaseRows(const QString& path, const char* query)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, query, -1, &stmt, nullptr);
    QStringList values;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        values << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return values;
}

FormFixture::FormFixture(const QString& whoisBase)
{
    makeEmptyDatabase(dbPath());
    services.sites.whoisBase = whoisBase;
    services.sites.banner.clear();
    services.sites.home = QStringLiteral("http://127.0.0.1:9");
    services.programDir = [this] { return dir.path(); };
    services.openBrowser = [this](const QString& url) {
        opened << url;
        return true;
    };
    services.reportError = [this](QWidget*, const QString& message) { messages << message; };
}

Form1& FormFixture::form()
{
    if (!window) {
        window = std::make_unique<Form1>(services);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("the window was not exposed");
    }
    return *window;
}

void FormFixture::sql(const QString& statements) const
{
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(dbPath().toUtf8().constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statements.toUtf8().constData(), nullptr, nullptr, &error);
    const QString reason = QString::fromUtf8(error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(reason));
}

QStringList FormFixture::rows(const char* query) const
{
    return databaseRows(dbPath(), query);
}

QStringList FormFixture::listEntries()
{
    QCoreApplication::processEvents();
    QStringList entries;
    for (int i = 0; i < form().watchList->model()->rowCount(); ++i)
        entries << form().watchList->entry(i);
    return entries;
}
