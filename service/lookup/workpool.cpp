#include "workpool.h"

WorkPool::WorkPool(int threads, int queueLimit) : m_queueLimit(size_t(queueLimit))
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back(&WorkPool::work, this);
}

WorkPool::~WorkPool()
{
    stop();
}

bool WorkPool::submit(Job job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping || m_queue.size() >= m_queueLimit)
            return false;
        m_queue.push_back(std::move(job));
    }
    m_ready.notify_one();
    return true;
}

void WorkPool::stop()
{
    std::deque<Job> waiting;
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        waiting.swap(m_queue);
    }
    m_ready.notify_all();
    for (Job& job : waiting)
        job.cancel();
    for (std::thread& thread : m_threads)
        thread.join();
}

void WorkPool::work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        job.run();
    }
}
