#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>

#include <QString>
#include <QStringList>

// A watch-list command the file refused; what() is the reason, worded for the user and naming the
// file.
class WatchListError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The watch list's file: domain.mdb in programDir, joined with the native separator. A directory
// that already ends in one (a root) gets no second.
QString databasePath(const QString& programDir);

// The watch list in its SQLite file, table domain(id, url). Each call opens the file, runs its one
// statement and closes it again, so the file is held only while a command runs. The file is never
// created: a missing, unreadable or foreign one is a WatchListError. A call waits up to lockWait
// for another copy of the program to let go of the file, calling pause between its tries.
class WatchListFile
{
public:
    // Waits for a while; the default sleeps. The window's keeps painting meanwhile.
    using Pause = std::function<void(std::chrono::milliseconds)>;

    WatchListFile(QString path, std::chrono::milliseconds lockWait, Pause pause = {});

    // Every url, the newest row first; rows without one are skipped.
    QStringList load() const;
    // Adds a row for url; every other column takes its default.
    void add(const QString& url) const;
    // Removes every row whose url equals url.
    void remove(const QString& url) const;

private:
    QString m_path;
    std::chrono::milliseconds m_lockWait;
    Pause m_pause;
};
