#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

// The few ADO objects the watch list uses, on SQLite. Names and constants are ADO's, so the
// watch-list commands keep the shape of the record-set code they were first written in.
namespace adodb {

// A refused database call; what() is the reason, worded for the user.
class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum CursorLocationEnum { adUseServer = 2, adUseClient = 3 };
enum CursorTypeEnum {
    adOpenForwardOnly = 0,
    adOpenKeyset = 1,
    adOpenDynamic = 2,
    adOpenStatic = 3
};
enum LockTypeEnum { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum ObjectStateEnum { adStateClosed = 0, adStateOpen = 1 };
enum : int { adCmdUnspecified = -1, adConnectUnspecified = -1 };

class Recordset;

class Connection
{
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Client-side cursors are the only kind; the setting is kept for the caller's sake.
    int CursorLocation = adUseServer;

    // Opens the existing database file at path. Never creates a file: a missing, unreadable or
    // non-SQLite file is an Error. A statement waits up to lockWait for a lock another process
    // holds before it fails.
    void Open(const QString& path, std::chrono::milliseconds lockWait = std::chrono::seconds(5));
    // Closes every record set still open on the connection first, as ADO does.
    void Close();
    int State() const { return m_db ? adStateOpen : adStateClosed; }

    sqlite3* handle() const { return m_db; }
    const QString& dataSource() const { return m_path; }

private:
    friend class Recordset;

    sqlite3* m_db = nullptr;
    QString m_path;
    std::vector<Recordset*> m_open; // record sets holding a statement on m_db
};

struct Field
{
    QString Name;
    // The current row's value as of the Fields call that returned this field; SQL NULL reads
    // as a null QVariant. Assign to it after AddNew.
    QVariant Value;
};

// A record set on one statement. A statement that returns rows is counted on first use (so
// RecordCount is exact before the first row is read) and then read row by row, both inside one
// read transaction, so no other connection can change the rows in between. A statement that
// returns no rows is carried out by Open and leaves the record set closed.
class Recordset
{
public:
    Recordset() = default;
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void Open(const QString& Source, Connection& ActiveConnection,
        int CursorType = adOpenForwardOnly, int LockType = adLockReadOnly,
        int Options = adCmdUnspecified);
    void Close();
    int State() const { return m_stmt ? adStateOpen : adStateClosed; }

    int RecordCount();
    // The field of that name (case-insensitive) on the current row, or on the new row after AddNew.
    Field& Fields(const QString& name);
    void MoveNext();

    // Starts a new row with every field unassigned; Update stores it with the assigned fields
    // only, so every other column takes its default.
    void AddNew();
    void Update();

private:
    void requireOpen(const char* operation) const;
    // Counts the rows and steps onto the first, once.
    void count();
    void step();
    void endRead();
    [[noreturn]] void failRead();

    Connection* m_connection = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    int m_lockType = adLockReadOnly;
    std::vector<Field> m_fields;
    bool m_counted = false;
    bool m_inReadTransaction = false;
    int m_count = 0;
    int m_position = 0;
    bool m_adding = false;
};

// An object made on its first use and kept until its holder goes, like a variable declared
// "As New": every use goes through operator->, which creates it when it is still missing.
template <class T> class AutoNew
{
public:
    T* operator->() { return &get(); }
    T& operator*() { return get(); }

private:
    T& get()
    {
        if (!m_object)
            m_object = std::make_unique<T>();
        return *m_object;
    }
    std::unique_ptr<T> m_object;
};

} // namespace adodb
