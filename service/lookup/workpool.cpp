#include "workpool.h"

#include <pthread.h>

#include <cstdio>
#include <exception>

WorkPool::WorkPool(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back(&WorkPool::work, this);
}

WorkPool::~WorkPool()
{
    stop();
}

void WorkPool::post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(job));
    }
    m_ready.notify_one();
}

bool WorkPool::begin(std::function<void()> job, int queueLimit)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping || m_threads.empty() || m_waitingToBegin >= queueLimit)
            return false;
        ++m_waitingToBegin;
        m_queue.push_back([this, job = std::move(job)] {
            {
                const std::lock_guard lock(m_mutex);
                --m_waitingToBegin;
            }
            job();
        });
    }
    m_ready.notify_one();
    return true;
}

void WorkPool::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_ready.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void WorkPool::work()
{
    pthread_setname_np(pthread_self(), "whois-work");
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // One look-up's fault is that look-up's alone.
        try {
            job();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "domain-whois-service: a job failed: %s\n", error.what());
        } catch (...) {
            std::fputs("domain-whois-service: a job failed\n", stderr);
        }
    }
}
