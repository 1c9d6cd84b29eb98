#include "timers.h"

#include <pthread.h>

#include <algorithm>

using namespace std::chrono;

ClockTimers::ClockTimers(std::function<Clock::time_point()> now)
    : m_now(std::move(now)), m_thread(&ClockTimers::run, this)
{ }

ClockTimers::~ClockTimers()
{
    stop();
    m_thread.join();
}

Timers::Id ClockTimers::at(Clock::time_point when, std::function<void()> fire)
{
    const std::lock_guard lock(m_mutex);
    if (m_stopping)
        return 0;
    const Id id = m_next++;
    m_pending.emplace(when, std::pair {id, std::move(fire)});
    m_whenOf.emplace(id, when);
    m_changed.notify_all();
    return id;
}

void ClockTimers::cancel(Id id)
{
    std::function<void()> dropped; // let go unlocked
    const std::lock_guard lock(m_mutex);
    const auto when = m_whenOf.find(id);
    if (when == m_whenOf.end())
        return;
    const auto [first, last] = m_pending.equal_range(when->second);
    const auto found
        = std::find_if(first, last, [id](const auto& timer) { return timer.second.first == id; });
    if (found != last) {
        dropped = std::move(found->second.second);
        m_pending.erase(found);
    }
    m_whenOf.erase(when);
}

void ClockTimers::stop()
{
    decltype(m_pending) dropped;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_pending);
        m_whenOf.clear();
    }
    m_changed.notify_all();
}

void ClockTimers::run()
{
    pthread_setname_np(pthread_self(), "whois-timers");
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (!m_pending.empty() && m_pending.begin()->first <= m_now()) {
            auto fire = std::move(m_pending.begin()->second.second);
            m_whenOf.erase(m_pending.begin()->second.first);
            m_pending.erase(m_pending.begin());
            lock.unlock();
            fire();
            lock.lock();
            continue;
        }
        // The clock may be one a test sets ahead: looked at again every second at least.
        const auto wait = m_pending.empty()
            ? seconds(1)
            : std::min<Clock::duration>(m_pending.begin()->first - m_now(), seconds(1));
        m_changed.wait_for(lock, wait);
    }
}
