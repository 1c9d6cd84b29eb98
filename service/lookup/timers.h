#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "service/net/network.h"

// Wakes look-ups at given times of the service's clock: a turn given up, a wait for the
// bootstrap ended. A timer's function runs on the timers' own thread, once, unless cancelled
// before; it should only hand work on.
class Timers
{
public:
    using Id = quint64;

    virtual ~Timers() = default;
    virtual Id at(Clock::time_point when, std::function<void()> fire) = 0;
    // The timer does not fire once this returns, unless it already began to.
    virtual void cancel(Id id) = 0;
    // Forgets every timer; none set later fires.
    virtual void stop() = 0;
};

// Timers on a thread of their own, on the given clock.
class ClockTimers final : public Timers
{
public:
    explicit ClockTimers(std::function<Clock::time_point()> now = Clock::now);
    ~ClockTimers() override;
    ClockTimers(const ClockTimers&) = delete;
    ClockTimers& operator=(const ClockTimers&) = delete;

    Id at(Clock::time_point when, std::function<void()> fire) override;
    void cancel(Id id) override;
    void stop() override;

private:
    void run();

    const std::function<Clock::time_point()> m_now;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::multimap<Clock::time_point, std::pair<Id, std::function<void()>>> m_pending;
    std::unordered_map<Id, Clock::time_point> m_whenOf;
    Id m_next = 1;
    bool m_stopping = false;
    std::thread m_thread;
};
