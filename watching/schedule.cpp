#include "schedule.h"

CheckSchedule::CheckSchedule(ScheduleClock& clock, const CheckPolicy& policy, StartCheck start)
    : m_clock(clock), m_policy(policy), m_start(std::move(start))
{ }

CheckSchedule::Turn CheckSchedule::turnOf(const QString& name, const Due& due)
{
    return {due.at.isValid(), due.at.isValid() ? due.at.toMSecsSinceEpoch() : 0, due.order, name};
}

void CheckSchedule::setDue(const QString& name, const QDateTime& at)
{
    auto [entry, added] = m_due.try_emplace(name, Due {at, m_watched});
    if (added) {
        ++m_watched;
    } else {
        m_turns.erase(turnOf(name, entry->second));
        entry->second.at = at;
    }
    m_turns.insert(turnOf(name, entry->second));
}

void CheckSchedule::watch(const QString& name, const QDateTime& due)
{
    setDue(name, due);
    arm();
}

void CheckSchedule::unwatch(const QString& name)
{
    if (const auto entry = m_due.find(name); entry != m_due.end()) {
        m_turns.erase(turnOf(name, entry->second));
        m_due.erase(entry);
    }
    arm();
}

void CheckSchedule::finished(
    const QString& name, const QDateTime& due, const QDateTime& holdAllUntil)
{
    if (name == m_running)
        m_running.clear();
    if (watches(name))
        setDue(name, due);
    m_notBefore = m_clock.now().addSecs(m_policy.spacing.count());
    if (holdAllUntil.isValid() && holdAllUntil > m_notBefore)
        m_notBefore = holdAllUntil;
    arm();
}

void CheckSchedule::skip(const QString& name, const QDateTime& due)
{
    if (name == m_running)
        m_running.clear();
    if (watches(name))
        setDue(name, due);
    arm();
}

bool CheckSchedule::anyDue() const
{
    const QDateTime now = m_clock.now();
    for (const Turn& turn : m_turns) {
        if (std::get<3>(turn) == m_running)
            continue;
        return !std::get<0>(turn) || std::get<1>(turn) <= now.toMSecsSinceEpoch();
    }
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
    if (m_holds > 0 || !m_running.isEmpty() || m_turns.empty())
        return {};
    const Turn& first = *m_turns.begin();
    const QDateTime now = m_clock.now();
    QDateTime at
        = std::get<0>(first) ? QDateTime::fromMSecsSinceEpoch(std::get<1>(first), Qt::UTC) : now;
    if (m_notBefore.isValid() && m_notBefore > at)
        at = m_notBefore;
    return at;
}

void CheckSchedule::arm()
{
    m_clock.wakeAt(nextStart());
}

void CheckSchedule::wake()
{
    const QDateTime start = nextStart();
    if (!start.isValid() || start > m_clock.now()) {
        arm();
        return;
    }
    m_running = std::get<3>(*m_turns.begin());
    m_clock.wakeAt({});
    m_start(m_running);
}
