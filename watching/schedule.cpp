#include "schedule.h"

CheckSchedule::CheckSchedule(ScheduleClock& clock, const CheckPolicy& policy, StartCheck start)
    : m_clock(clock), m_policy(policy), m_start(std::move(start))
{ }

void CheckSchedule::watch(const QString& name, const QDateTime& due)
{
    auto [at, added] = m_due.try_emplace(name, Due {due, m_watched});
    if (added)
        ++m_watched;
    else
        at->second.at = due;
    arm();
}

void CheckSchedule::unwatch(const QString& name)
{
    m_due.erase(name);
    arm();
}

void CheckSchedule::finished(
    const QString& name, const QDateTime& due, const QDateTime& holdAllUntil)
{
    if (name == m_running)
        m_running.clear();
    if (const auto at = m_due.find(name); at != m_due.end())
        at->second.at = due;
    m_notBefore = m_clock.now().addSecs(m_policy.spacing.count());
    if (holdAllUntil.isValid() && holdAllUntil > m_notBefore)
        m_notBefore = holdAllUntil;
    arm();
}

void CheckSchedule::skip(const QString& name, const QDateTime& due)
{
    if (name == m_running)
        m_running.clear();
    if (const auto at = m_due.find(name); at != m_due.end())
        at->second.at = due;
    arm();
}

bool CheckSchedule::anyDue() const
{
    const QDateTime now = m_clock.now();
    for (const auto& [name, due] : m_due)
        if (name != m_running && (!due.at.isValid() || due.at <= now))
            return true;
    return false;
}

QString CheckSchedule::hold()
{
    ++m_holds;
    const QString abandoned = m_running;
    m_running.clear(); // its due time was left as it was: it is still due
    arm();
    return abandoned;
}

void CheckSchedule::release()
{
    if (m_holds > 0 && --m_holds == 0) {
        // The user's query has just used the service: the next check keeps its distance.
        const QDateTime spaced = m_clock.now().addSecs(m_policy.spacing.count());
        if (!m_notBefore.isValid() || spaced > m_notBefore)
            m_notBefore = spaced;
    }
    arm();
}

QDateTime CheckSchedule::nextStart() const
{
    if (m_holds > 0 || !m_running.isEmpty() || m_due.empty())
        return {};
    const QDateTime now = m_clock.now();
    QDateTime first;
    for (const auto& [name, due] : m_due) {
        const QDateTime at = due.at.isValid() ? due.at : now;
        if (!first.isValid() || at < first)
            first = at;
    }
    if (m_notBefore.isValid() && m_notBefore > first)
        first = m_notBefore;
    return first;
}

void CheckSchedule::arm()
{
    m_clock.wakeAt(nextStart());
}

void CheckSchedule::wake()
{
    const QDateTime start = nextStart();
    const QDateTime now = m_clock.now();
    if (!start.isValid() || start > now) {
        arm();
        return;
    }
    // The most overdue; never-checked names (no due time) first, in the order watched.
    auto pick = m_due.end();
    for (auto at = m_due.begin(); at != m_due.end(); ++at) {
        if (at->second.at.isValid() && at->second.at > now)
            continue;
        const auto earlier = [](const Due& a, const Due& b) {
            if (a.at.isValid() != b.at.isValid())
                return !a.at.isValid();
            return a.at != b.at ? a.at < b.at : a.order < b.order;
        };
        if (pick == m_due.end() || earlier(at->second, pick->second))
            pick = at;
    }
    if (pick == m_due.end()) {
        arm();
        return;
    }
    m_running = pick->first;
    m_clock.wakeAt({});
    m_start(m_running);
}
