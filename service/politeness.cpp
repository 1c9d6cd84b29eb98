#include "politeness.h"

using namespace std::chrono;

Politeness::Politeness(int perMinute, std::function<Clock::time_point()> now)
    : m_perMinute(perMinute), m_now(std::move(now))
{ }

Politeness::Verdict Politeness::enter(const QString& host, Deadline deadline)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (deadline.left() < kShortestHop)
            return Verdict::Late;
        Server& server = m_servers[host.toLower()];
        const Clock::time_point now = m_now();
        if (now < server.quietUntil)
            return Verdict::Limited;
        while (!server.recent.empty() && server.recent.front() <= now - minutes(1))
            server.recent.pop_front();
        if (int(server.recent.size()) >= m_perMinute)
            return Verdict::Limited;
        if (!server.busy) {
            server.busy = true;
            server.recent.push_back(now);
            return Verdict::Go;
        }
        m_freed.wait_until(lock, deadline.at - kShortestHop);
    }
}

void Politeness::leave(const QString& host)
{
    {
        const std::lock_guard lock(m_mutex);
        m_servers[host.toLower()].busy = false;
    }
    m_freed.notify_all();
}

void Politeness::holdOff(const QString& host, seconds wait)
{
    const std::lock_guard lock(m_mutex);
    Server& server = m_servers[host.toLower()];
    server.quietUntil = std::max(server.quietUntil, m_now() + wait);
}
