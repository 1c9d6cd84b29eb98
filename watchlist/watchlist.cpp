#include "watchlist.h"

#include <memory>
#include <thread>

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

namespace {

using Database = std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)>;

// SQLite's wait for a lock, with the pause handed in between its tries.
struct LockWait
{
    std::chrono::steady_clock::time_point until;
    const WatchListFile::Pause& pause;
};

int waitForLock(void* data, int)
{
    const auto* wait = static_cast<const LockWait*>(data);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        wait->until - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    const auto step = std::min(left, std::chrono::milliseconds(10));
    if (wait->pause)
        wait->pause(step);
    else
        std::this_thread::sleep_for(step);
    return 1;
}

// An open file and the lock wait it calls, which must live as long.
struct Connection
{
    std::unique_ptr<LockWait> wait;
    Database db {nullptr, &sqlite3_close_v2};
    sqlite3* get() const { return db.get(); }
};
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

[[noreturn]] void fail(const QString& what, const QString& reason)
{
    throw WatchListError((what + QStringLiteral("：") + reason).toStdString());
}

QString refused(const QString& path)
{
    return QStringLiteral("关注列表 ") + path + QStringLiteral(" 拒绝了语句");
}

QString reason(sqlite3* db)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
}

Connection open(
    const QString& path, std::chrono::milliseconds lockWait, const WatchListFile::Pause& pause)
{
    const QString what = QStringLiteral("无法打开关注列表 ") + path;
    const QFileInfo file(path);
    if (!file.exists())
        fail(what, QStringLiteral("文件不存在"));
    if (!file.isFile())
        fail(what, QStringLiteral("这不是一个文件"));
    sqlite3* raw = nullptr;
    // Without SQLITE_OPEN_CREATE a file that went missing meanwhile is not made anew.
    const int rc = sqlite3_open_v2(
        path.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection connection {
        std::make_unique<LockWait>(LockWait {std::chrono::steady_clock::now() + lockWait, pause}),
        Database(raw, &sqlite3_close_v2)};
    if (rc != SQLITE_OK)
        fail(what, reason(raw));
    sqlite3_busy_handler(raw, waitForLock, connection.wait.get());
    // SQLite reads the file lazily; reading the schema now makes a foreign file a failure to open.
    if (sqlite3_exec(raw, "select count(*) from sqlite_master", nullptr, nullptr, nullptr)
        != SQLITE_OK)
        fail(what, reason(raw));
    return connection;
}

Statement prepare(sqlite3* db, const char* sql, const QString& path)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
        fail(refused(path), reason(db));
    return Statement(raw, &sqlite3_finalize);
}

// Runs a statement that returns no rows, with url bound to its one parameter.
void change(
    sqlite3* db, const char* sql, const QString& url, const QString& path, const QString& what)
{
    const Statement stmt = prepare(db, sql, path);
    const QByteArray text = url.toUtf8();
    sqlite3_bind_text(stmt.get(), 1, text.constData(), int(text.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE)
        fail(what, reason(db));
}

} // namespace

QString databasePath(const QString& programDir)
{
    QString dir = QDir::toNativeSeparators(programDir);
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir + QStringLiteral("domain.mdb");
}

WatchListFile::WatchListFile(QString path, std::chrono::milliseconds lockWait, Pause pause)
    : m_path(std::move(path)), m_lockWait(lockWait), m_pause(std::move(pause))
{ }

QStringList WatchListFile::load() const
{
    const Connection db = open(m_path, m_lockWait, m_pause);
    const Statement stmt = prepare(db.get(), "select url from domain order by id desc", m_path);
    QStringList urls;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        if (sqlite3_column_type(stmt.get(), 0) == SQLITE_NULL)
            continue;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
        urls << QString::fromUtf8(text, sqlite3_column_bytes(stmt.get(), 0));
    }
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("无法读取关注列表 ") + m_path, reason(db.get()));
    return urls;
}

void WatchListFile::add(const QString& url) const
{
    const Connection db = open(m_path, m_lockWait, m_pause);
    change(db.get(), "insert into domain(url) values(?)", url, m_path,
        QStringLiteral("无法保存到关注列表 ") + m_path);
}

void WatchListFile::remove(const QString& url) const
{
    const Connection db = open(m_path, m_lockWait, m_pause);
    change(db.get(), "delete from domain where url = ?", url, m_path, refused(m_path));
}
