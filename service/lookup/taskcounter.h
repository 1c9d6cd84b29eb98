#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Counts the detached coroutines under way, so that whoever owns what they use can wait until
// none is left before letting it go.
class TaskCounter
{
public:
    class Guard
    {
    public:
        explicit Guard(TaskCounter& counter) : m_counter(&counter) { counter.add(1); }
        Guard(Guard&& other) noexcept : m_counter(std::exchange(other.m_counter, nullptr)) { }
        Guard& operator=(Guard&&) = delete;
        ~Guard()
        {
            if (m_counter)
                m_counter->add(-1);
        }

    private:
        TaskCounter* m_counter;
    };

    int count() const
    {
        const std::lock_guard lock(m_mutex);
        return m_count;
    }
    // True once none is under way; false when most passed first.
    bool waitForNone(std::chrono::milliseconds most)
    {
        std::unique_lock lock(m_mutex);
        return m_none.wait_for(lock, most, [this] { return m_count == 0; });
    }

private:
    void add(int n)
    {
        const std::lock_guard lock(m_mutex);
        m_count += n;
        if (m_count == 0)
            m_none.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_none;
    int m_count = 0;
};
