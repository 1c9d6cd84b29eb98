#pragma once

#include <memory>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include "watching/record.h"

class CheckSchedule;
class QNetworkAccessManager;
class QNetworkReply;
class WatchStore;

// Keeps the watch list's names fresh: checks each through the service's RDAP endpoint when the
// schedule says, asynchronously (no local event loop), and keeps what it learns in the state file.
class WatchChecker : public QObject
{
    Q_OBJECT
public:
    // rdapBase: the endpoint's address, to which the name is appended percent-encoded.
    WatchChecker(QNetworkAccessManager& network, QString rdapBase, const CheckPolicy& policy,
        QObject* parent = nullptr);
    ~WatchChecker() override;
    Q_DISABLE_COPY_MOVE(WatchChecker)

    // Opens the state file, drops what it holds of names not listed, and watches the names.
    // Throws WatchStoreError.
    void start(const QString& statePath, const QStringList& names);
    // A name newly listed; one listed already is left as it is.
    void watch(const QString& name);
    // A name no longer listed: its state goes.
    void unwatch(const QString& name);
    // The user has looked at the name: its changes are no longer marked.
    void markSeen(const QString& name);
    // The user's query goes first: no check runs from hold() to release(), and a running one is
    // abandoned, to be done again afterwards without counting as a failure.
    void hold();
    void release();

    // What is known of name; null when it is not watched.
    const WatchRecord* record(const QString& name) const;

signals:
    void recordChanged(const QString& name);
    // Checks found these names changed. Raised once the catch-up has nothing more due, or a
    // minute after the first change it found, whichever comes first.
    void changesFound(const QStringList& names);

private:
    class Clock;

    void startCheck(const QString& name);
    void checkEnded(const QString& name, QNetworkReply* reply);
    void abandonCheck();
    void save(const QString& name);
    void tellChanges();

    QNetworkAccessManager& m_network;
    const QString m_rdapBase;
    const CheckPolicy m_policy;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<CheckSchedule> m_schedule;
    std::unique_ptr<WatchStore> m_store;
    QHash<QString, WatchRecord> m_records;
    QPointer<QNetworkReply> m_reply; // the network's own: gone with it
    QStringList m_changed;
    QTimer m_tellLater;
};
