#include "watchstore.h"

#include <QDir>

#include <sqlite3.h>

namespace {

const char* const kSchema = R"sql(
create table if not exists watched(
    name text primary key,
    known integer not null default 0,
    presence text,
    domain text,
    registrar text,
    registrar_id text,
    registrant text,
    email text,
    created text,
    expires text,
    status text,
    source text,
    checked text,
    due text,
    failures integer not null default 0,
    failure text,
    unseen integer not null default 0
);
create table if not exists change(
    id integer primary key autoincrement,
    name text not null,
    at text not null,
    kind text not null,
    before text,
    after text
);
create index if not exists change_by_name on change(name, id);
)sql";

const char* const kColumns = "name, known, presence, domain, registrar, registrar_id, registrant, "
                             "email, created, expires, status, source, checked, due, failures, "
                             "failure, unseen";

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

[[noreturn]] void fail(sqlite3* db, const QString& path)
{
    throw WatchStoreError((QStringLiteral("关注状态文件 ") + path + QStringLiteral(" 出错：")
        + QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"))
                              .toStdString());
}

QString stamp(const QDateTime& at)
{
    return at.isValid() ? at.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime fromStamp(const QString& text)
{
    QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    return at.isValid() ? at.toUTC() : QDateTime();
}

const char* presenceName(Presence presence)
{
    switch (presence) {
    case Presence::Free:
        return "free";
    case Presence::Reserved:
        return "reserved";
    case Presence::Registered:
        break;
    }
    return "registered";
}

Presence presenceFrom(const QString& name)
{
    return name == u"free"    ? Presence::Free
        : name == u"reserved" ? Presence::Reserved
                              : Presence::Registered;
}

class Query
{
public:
    Query(sqlite3* db, const QByteArray& sql, const QString& path)
        : m_db(db), m_path(path), m_stmt(nullptr, &sqlite3_finalize)
    {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &raw, nullptr) != SQLITE_OK)
            fail(db, path);
        m_stmt.reset(raw);
    }

    Query& bind(const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(
            m_stmt.get(), ++m_bound, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Query& bind(qint64 number)
    {
        sqlite3_bind_int64(m_stmt.get(), ++m_bound, number);
        return *this;
    }
    // true while there is a row.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            fail(m_db, m_path);
        return rc == SQLITE_ROW;
    }
    QString text(int column) const
    {
        const auto* at = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt.get(), column));
        return QString::fromUtf8(at, sqlite3_column_bytes(m_stmt.get(), column));
    }
    qint64 number(int column) const { return sqlite3_column_int64(m_stmt.get(), column); }

private:
    sqlite3* m_db;
    const QString& m_path;
    Statement m_stmt;
    int m_bound = 0;
};

WatchRecord readRecord(const Query& row)
{
    WatchRecord record;
    record.known = row.number(1) != 0;
    WatchFacts& facts = record.facts;
    facts.presence = presenceFrom(row.text(2));
    facts.domain = row.text(3);
    facts.registrar = row.text(4);
    facts.registrarId = row.text(5);
    facts.registrant = row.text(6);
    facts.email = row.text(7);
    facts.created = fromStamp(row.text(8));
    facts.expires = fromStamp(row.text(9));
    facts.status = row.text(10).split(u'\n', Qt::SkipEmptyParts);
    facts.source = row.text(11);
    record.checked = fromStamp(row.text(12));
    record.due = fromStamp(row.text(13));
    record.failures = int(row.number(14));
    record.failure = row.text(15);
    record.unseen = row.number(16) != 0;
    return record;
}

void readChange(const Query& row, QHash<QString, WatchRecord>& records)
{
    const auto record = records.find(row.text(0));
    ChangeKind kind;
    if (record == records.end() || !changeKindFromName(row.text(2), &kind))
        return;
    record->history.append({kind, fromStamp(row.text(1)), row.text(3), row.text(4)});
}

// One transaction: committed when done, rolled back when left by an exception.
class Transaction
{
public:
    Transaction(sqlite3* db, const QString& path) : m_db(db), m_path(path)
    {
        // Immediate: the write lock is taken (and waited for) at the start, not half-way.
        if (sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(db, path);
    }
    ~Transaction()
    {
        if (!m_done)
            sqlite3_exec(m_db, "rollback", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        if (sqlite3_exec(m_db, "commit", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(m_db, m_path);
        m_done = true;
    }

private:
    sqlite3* m_db;
    const QString& m_path;
    bool m_done = false;
};

} // namespace

QString watchStatePath(const QString& programDir)
{
    return QDir(programDir).filePath(QStringLiteral("watch-state.db"));
}

WatchStore::WatchStore(const QString& path, std::chrono::milliseconds lockWait)
    : m_db(nullptr, &sqlite3_close_v2), m_path(path)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    m_db.reset(raw);
    if (rc != SQLITE_OK)
        fail(raw, path);
    sqlite3_busy_timeout(raw, int(lockWait.count()));
    // WAL: another copy reading never waits for this one's write. FULL: a commit is on the disk
    // before it returns.
    if (sqlite3_exec(
            raw, "pragma journal_mode=wal; pragma synchronous=full;", nullptr, nullptr, nullptr)
            != SQLITE_OK
        || sqlite3_exec(raw, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(raw, path);
}

WatchStore::~WatchStore() = default;

QHash<QString, WatchRecord> WatchStore::loadAll() const
{
    QHash<QString, WatchRecord> records;
    Query rows(m_db.get(), QByteArray("select ") + kColumns + " from watched", m_path);
    while (rows.step())
        records.insert(rows.text(0), readRecord(rows));
    Query changes(
        m_db.get(), "select name, at, kind, before, after from change order by id", m_path);
    while (changes.step())
        readChange(changes, records);
    return records;
}

std::optional<WatchRecord> WatchStore::load(const QString& name) const
{
    Query row(
        m_db.get(), QByteArray("select ") + kColumns + " from watched where name = ?", m_path);
    if (!row.bind(name).step())
        return std::nullopt;
    QHash<QString, WatchRecord> records {{name, readRecord(row)}};
    Query changes(m_db.get(),
        "select name, at, kind, before, after from change where name = ? order by id", m_path);
    changes.bind(name);
    while (changes.step())
        readChange(changes, records);
    return records.value(name);
}

void WatchStore::save(const QString& name, const WatchRecord& record)
{
    Transaction transaction(m_db.get(), m_path);
    const WatchFacts& facts = record.facts;
    Query(m_db.get(),
        QByteArray("insert or replace into watched(") + kColumns
            + ") values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
        m_path)
        .bind(name)
        .bind(qint64(record.known))
        .bind(QString::fromLatin1(presenceName(facts.presence)))
        .bind(facts.domain)
        .bind(facts.registrar)
        .bind(facts.registrarId)
        .bind(facts.registrant)
        .bind(facts.email)
        .bind(stamp(facts.created))
        .bind(stamp(facts.expires))
        .bind(facts.status.join(u'\n'))
        .bind(facts.source)
        .bind(stamp(record.checked))
        .bind(stamp(record.due))
        .bind(qint64(record.failures))
        .bind(record.failure)
        .bind(qint64(record.unseen))
        .step();
    Query(m_db.get(), "delete from change where name = ?", m_path).bind(name).step();
    for (const Change& change : record.history)
        Query(m_db.get(), "insert into change(name, at, kind, before, after) values(?,?,?,?,?)",
            m_path)
            .bind(name)
            .bind(stamp(change.at))
            .bind(changeKindName(change.kind))
            .bind(change.before)
            .bind(change.after)
            .step();
    transaction.commit();
}

void WatchStore::remove(const QString& name)
{
    Transaction transaction(m_db.get(), m_path);
    Query(m_db.get(), "delete from watched where name = ?", m_path).bind(name).step();
    Query(m_db.get(), "delete from change where name = ?", m_path).bind(name).step();
    transaction.commit();
}

void WatchStore::keepOnly(const QSet<QString>& names)
{
    QStringList gone;
    Query rows(m_db.get(), "select name from watched", m_path);
    while (rows.step())
        if (!names.contains(rows.text(0)))
            gone << rows.text(0);
    if (gone.isEmpty())
        return;
    Transaction transaction(m_db.get(), m_path);
    for (const QString& name : gone) {
        Query(m_db.get(), "delete from watched where name = ?", m_path).bind(name).step();
        Query(m_db.get(), "delete from change where name = ?", m_path).bind(name).step();
    }
    transaction.commit();
}
