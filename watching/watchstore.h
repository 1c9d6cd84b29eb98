#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>

#include <QHash>
#include <QSet>
#include <QString>

#include "watching/record.h"

struct sqlite3;

class WatchStoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// watch-state.db in programDir, beside domain.mdb.
QString watchStatePath(const QString& programDir);

// What is known of every watched name, in its own SQLite file, keyed by the entry's exact text.
// The file is made when missing. Each change is one transaction, written through to the disk
// before it returns, so a crash at any moment loses nothing already saved. Other copies of the
// program may use the file at the same time.
class WatchStore
{
public:
    // Throws WatchStoreError when the file cannot be opened or made.
    explicit WatchStore(
        const QString& path, std::chrono::milliseconds lockWait = std::chrono::seconds(1));
    ~WatchStore();
    WatchStore(const WatchStore&) = delete;
    WatchStore& operator=(const WatchStore&) = delete;

    QHash<QString, WatchRecord> loadAll() const;
    std::optional<WatchRecord> load(const QString& name) const;
    // Stores record for name, its history included, in place of what was stored.
    void save(const QString& name, const WatchRecord& record);
    void remove(const QString& name);
    // Removes every name but these.
    void keepOnly(const QSet<QString>& names);

private:
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> m_db;
    QString m_path;
};
