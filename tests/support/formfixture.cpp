#include "formfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <sqlite3.h>

QStringList sql(const QString& path, const QString& statements)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    QStringList first;
    const auto collect = [](void* out, int, char** values, char**) {
        static_cast<QStringList*>(out)->append(QString::fromUtf8(values[0]));
        return 0;
    };
    char* error = nullptr;
    sqlite3_exec(db, statements.toUtf8().constData(), collect, &first, &error);
    if (error)
        QTest::qFail(error, __FILE__, __LINE__);
    sqlite3_free(error);
    sqlite3_close(db);
    return first;
}

void makeEmptyDatabase(const QString& path)
{
    QFile schema(QStringLiteral(WATCHLIST_SCHEMA));
    QVERIFY(schema.open(QIODevice::ReadOnly));
    sql(path, QString::fromUtf8(schema.readAll()));
}

FormFixture::FormFixture(const QString& whoisBase)
{
    makeEmptyDatabase(dbPath());
    services.sites.whoisBase = whoisBase;
    services.sites.rdapBase = QStringLiteral("http://127.0.0.1:9/rdap/domain/");
    services.sites.banner.clear();
    services.sites.home = QStringLiteral("http://127.0.0.1:9");
    services.programDir = [this] { return dir.path(); };
    services.openBrowser = [this](const QString& url) { return opened << url, true; };
    services.reportError = [this](QWidget*, const QString& message) { messages << message; };
}

Form1& FormFixture::form()
{
    if (!window) {
        window = std::make_unique<Form1>(services);
        window->load();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("the window was not exposed");
    }
    return *window;
}

QStringList FormFixture::listEntries()
{
    QCoreApplication::processEvents();
    QStringList entries;
    for (int i = 0; i < form().watchList->model()->rowCount(); ++i)
        entries << form().watchList->entry(i);
    return entries;
}

QStringList FormFixture::labels()
{
    return {form().domainLabel->text(), form().registrarLabel->text(),
        form().registrantLabel->text(), form().emailLabel->text(), form().createdLabel->text(),
        form().expiresLabel->text()};
}
