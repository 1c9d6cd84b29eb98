#include "adodb.h"

#include <algorithm>
#include <cstring>

#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

namespace adodb {

namespace {

[[noreturn]] void fail(const QString& what, const QString& reason)
{
    throw Error((what + QStringLiteral("：") + reason).toStdString());
}

QString sqliteReason(sqlite3* db)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
}

void bindValue(sqlite3_stmt* stmt, int index, const QVariant& value)
{
    if (value.isNull()) {
        sqlite3_bind_null(stmt, index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Bool:
        sqlite3_bind_int64(stmt, index, value.toLongLong());
        break;
    case QMetaType::Double:
        sqlite3_bind_double(stmt, index, value.toDouble());
        break;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        sqlite3_bind_blob64(
            stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text64(stmt, index, text.constData(), sqlite3_uint64(text.size()),
            SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    }
    }
}

QString quotedIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

// --- Connection -----------------------------------------------------------------------------

Connection::~Connection()
{
    Close();
}

void Connection::Open(const QString& path, std::chrono::milliseconds lockWait)
{
    if (m_db)
        throw Error("数据库连接已经打开。");
    const QString what = QStringLiteral("无法打开关注列表 ") + path;
    const QFileInfo file(path);
    if (!file.exists())
        fail(what, QStringLiteral("文件不存在"));
    if (!file.isFile())
        fail(what, QStringLiteral("这不是一个文件"));

    sqlite3* db = nullptr;
    const QByteArray native = path.toUtf8();
    // One thread uses a connection; SQLite's own locking per call is not needed.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(native.constData(), &db, flags, nullptr) != SQLITE_OK) {
        const QString reason = sqliteReason(db);
        sqlite3_close_v2(db);
        fail(what, reason);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, int(lockWait.count()));
    // SQLite reads the file lazily; reading the schema now turns an unreadable or foreign file
    // into an error of the open, where it belongs.
    if (sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr)
        != SQLITE_OK) {
        const QString reason = sqliteReason(db);
        sqlite3_close_v2(db);
        fail(what, reason);
    }
    m_db = db;
    m_path = path;
}

void Connection::Close()
{
    while (!m_open.empty())
        m_open.back()->Close();
    if (!m_db)
        return;
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

// --- Recordset ------------------------------------------------------------------------------

namespace {

QVariant columnValue(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                sqlite3_column_bytes(stmt, column)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
            sqlite3_column_bytes(stmt, column)));
    default:
        return QVariant::fromValue(nullptr);
    }
}

} // namespace

Recordset::~Recordset()
{
    Close();
}

void Recordset::Open(const QString& Source, Connection& ActiveConnection, int, int LockType, int)
{
    if (m_stmt)
        throw Error("记录集已经打开。");
    sqlite3* db = ActiveConnection.handle();
    if (!db)
        throw Error("数据库连接没有打开。");
    const QString what = QStringLiteral("关注列表 ") + ActiveConnection.dataSource()
        + QStringLiteral(" 拒绝了语句");

    const QByteArray sql = Source.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, &tail) != SQLITE_OK)
        fail(what, sqliteReason(db));
    if (!stmt)
        fail(what, QStringLiteral("语句为空"));
    if (tail && QByteArray(tail).trimmed().size() > 0) {
        sqlite3_finalize(stmt);
        fail(what, QStringLiteral("只能执行一条语句"));
    }

    if (sqlite3_column_count(stmt) == 0) {
        // A statement without rows is carried out at once; the record set stays closed.
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) { }
        const QString reason = rc == SQLITE_DONE ? QString() : sqliteReason(db);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            fail(what, reason);
        return;
    }

    m_connection = &ActiveConnection;
    m_connection->m_open.push_back(this);
    m_stmt = stmt;
    m_lockType = LockType;
    m_fields.clear();
    const int columns = sqlite3_column_count(stmt);
    m_fields.reserve(size_t(columns));
    for (int c = 0; c < columns; ++c)
        m_fields.push_back(Field {QString::fromUtf8(sqlite3_column_name(stmt, c)), QVariant()});
    m_counted = false;
    m_count = 0;
    m_position = 0;
    m_adding = false;
}

void Recordset::Close()
{
    if (!m_stmt)
        return;
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    endRead();
    auto& open = m_connection->m_open;
    open.erase(std::find(open.begin(), open.end(), this));
    m_connection = nullptr;
    m_counted = false;
    m_adding = false;
}

void Recordset::requireOpen(const char* operation) const
{
    if (!m_stmt)
        throw Error(QStringLiteral("记录集没有打开，不能%1。")
                        .arg(QString::fromUtf8(operation))
                        .toStdString());
}

void Recordset::endRead()
{
    if (!m_inReadTransaction)
        return;
    m_inReadTransaction = false;
    sqlite3_exec(m_connection->handle(), "commit", nullptr, nullptr, nullptr);
}

void Recordset::failRead()
{
    const QString reason = sqliteReason(m_connection->handle());
    sqlite3_reset(m_stmt);
    endRead();
    fail(QStringLiteral("无法读取关注列表 ") + m_connection->dataSource(), reason);
}

void Recordset::count()
{
    if (m_counted)
        return;
    sqlite3* db = m_connection->handle();
    if (sqlite3_get_autocommit(db)) {
        if (sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) != SQLITE_OK)
            failRead();
        m_inReadTransaction = true;
    }
    // SQLite counts the rows of a query far faster than they can be stepped through.
    const QByteArray counting = "select count(*) from (" + QByteArray(sqlite3_sql(m_stmt)) + ")";
    sqlite3_stmt* counter = nullptr;
    int rows = 0;
    if (sqlite3_prepare_v2(db, counting.constData(), int(counting.size()), &counter, nullptr)
            == SQLITE_OK
        && sqlite3_step(counter) == SQLITE_ROW) {
        rows = sqlite3_column_int(counter, 0);
    } else {
        int rc;
        while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW)
            ++rows;
        if (rc != SQLITE_DONE) {
            sqlite3_finalize(counter);
            failRead();
        }
        sqlite3_reset(m_stmt);
    }
    sqlite3_finalize(counter);
    m_count = rows;
    m_position = 0;
    m_counted = true;
    if (m_count > 0)
        step();
}

void Recordset::step()
{
    if (sqlite3_step(m_stmt) != SQLITE_ROW)
        failRead();
}

int Recordset::RecordCount()
{
    requireOpen("计数");
    count();
    return m_count;
}

Field& Recordset::Fields(const QString& name)
{
    requireOpen("读取字段");
    // Names are matched regardless of case, but are mostly written as the column is.
    auto field = std::find_if(
        m_fields.begin(), m_fields.end(), [&name](const Field& f) { return f.Name == name; });
    if (field == m_fields.end()) {
        field = std::find_if(m_fields.begin(), m_fields.end(),
            [&name](const Field& f) { return f.Name.compare(name, Qt::CaseInsensitive) == 0; });
    }
    if (field == m_fields.end())
        throw Error(QStringLiteral("关注列表没有 %1 字段。").arg(name).toStdString());
    if (!m_adding) {
        count();
        if (m_position >= m_count)
            throw Error("当前没有记录。");
        field->Value = columnValue(m_stmt, int(field - m_fields.begin()));
    }
    return *field;
}

void Recordset::MoveNext()
{
    requireOpen("移动");
    count();
    if (m_position >= m_count)
        throw Error("已经到了最后一条记录之后。");
    if (++m_position < m_count)
        step();
}

void Recordset::AddNew()
{
    requireOpen("添加记录");
    if (m_lockType == adLockReadOnly)
        throw Error("只读记录集不能添加记录。");
    for (Field& field : m_fields)
        field.Value = QVariant();
    m_adding = true;
}

void Recordset::Update()
{
    requireOpen("保存记录");
    if (!m_adding)
        return;
    // The new row is stored on its own, so that a refusal shows here and not at a later commit.
    sqlite3_reset(m_stmt);
    endRead();
    m_counted = false;
    sqlite3* db = m_connection->handle();
    const QString what = QStringLiteral("无法保存到关注列表 ") + m_connection->dataSource();

    const char* table = sqlite3_column_table_name(m_stmt, 0);
    if (!table)
        fail(what, QStringLiteral("这组记录不属于一张表"));
    QStringList columns;
    std::vector<const QVariant*> values;
    for (size_t c = 0; c < m_fields.size(); ++c) {
        const char* origin = sqlite3_column_table_name(m_stmt, int(c));
        if (!origin || qstrcmp(origin, table) != 0)
            fail(what, QStringLiteral("这组记录不属于一张表"));
        if (m_fields[c].Value.isValid()) {
            const char* column = sqlite3_column_origin_name(m_stmt, int(c));
            columns << quotedIdentifier(QString::fromUtf8(column ? column : ""));
            values.push_back(&m_fields[c].Value);
        }
    }
    QString sql = QStringLiteral("insert into ") + quotedIdentifier(QString::fromUtf8(table));
    if (columns.isEmpty()) {
        sql += QStringLiteral(" default values");
    } else {
        QStringList marks;
        for (qsizetype i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        sql += u'(' + columns.join(u',') + QStringLiteral(") values(") + marks.join(u',') + u')';
    }

    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &insert, nullptr) != SQLITE_OK)
        fail(what, sqliteReason(db));
    for (size_t i = 0; i < values.size(); ++i)
        bindValue(insert, int(i + 1), *values[i]);
    const int rc = sqlite3_step(insert);
    const QString reason = rc == SQLITE_DONE ? QString() : sqliteReason(db);
    sqlite3_finalize(insert);
    if (rc != SQLITE_DONE)
        fail(what, reason);
    m_adding = false;
}

} // namespace adodb
