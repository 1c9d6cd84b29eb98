#pragma once

#include <functional>
#include <map>
#include <set>
#include <tuple>

#include <QDateTime>
#include <QString>

#include "watching/record.h"

// What the schedule needs of the world: the time, and one timer.
class ScheduleClock
{
public:
    virtual ~ScheduleClock() = default;
    virtual QDateTime now() const = 0;
    // Calls CheckSchedule::wake() once at when or soon after, replacing an earlier request; an
    // invalid when cancels it.
    virtual void wakeAt(const QDateTime& when) = 0;
};

// Which watched name is checked when: one check at a time, the next no sooner than the policy's
// spacing after the last ended, none while held (the user's own query goes first) and none before
// a Retry-After has passed. Names never checked go first, then the most overdue.
class CheckSchedule
{
public:
    using StartCheck = std::function<void(const QString& name)>;
    CheckSchedule(ScheduleClock& clock, const CheckPolicy& policy, StartCheck start);

    // Watches name, to be checked at due (invalid: as soon as may be). Watching it again moves it.
    void watch(const QString& name, const QDateTime& due);
    void unwatch(const QString& name);
    bool watches(const QString& name) const { return m_due.count(name) != 0; }

    // The check of name has ended: the next is at due, and no check starts before holdAllUntil.
    void finished(const QString& name, const QDateTime& due, const QDateTime& holdAllUntil = {});
    // name need not be checked after all (another copy of the program just did): it is due at
    // due, and the next check may start at once.
    void skip(const QString& name, const QDateTime& due);
    // No check starts until release(); returns the name whose running check the caller must
    // abandon (empty when none). That check goes back to be done again, counting as no failure.
    QString hold();
    void release();

    // Starts the check that is due, if any; the clock calls it.
    void wake();

    QString running() const { return m_running; }
    // Whether any name waits for its check (the catch-up is not done).
    bool anyDue() const;
    // The earliest a check will start; invalid when none will.
    QDateTime nextStart() const;

private:
    // The order checks go in: never-checked names first, then the most overdue; names due
    // together in the order they were watched. Invalid due times sort as the epoch.
    using Turn = std::tuple<bool, qint64, quint64, QString>; // checked before, due, order, name
    struct Due
    {
        QDateTime at;
        quint64 order;
    };

    static Turn turnOf(const QString& name, const Due& due);
    void setDue(const QString& name, const QDateTime& at);
    void arm();

    ScheduleClock& m_clock;
    CheckPolicy m_policy;
    StartCheck m_start;
    std::map<QString, Due> m_due;
    std::set<Turn> m_turns; // one for each name of m_due
    quint64 m_watched = 0;
    QString m_running;
    int m_holds = 0;
    QDateTime m_notBefore;
};
