#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed number of threads for look-ups, with a bounded queue in front: when every thread is
// busy and the queue is full, work is refused at once rather than left to wait past its budget.
class WorkPool
{
public:
    struct Job
    {
        std::function<void()> run;
        std::function<void()> cancel; // called instead of run when the pool stops first
    };

    WorkPool(int threads, int queueLimit);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // False when the queue is full or the pool has stopped; the job is then not taken.
    bool submit(Job job);
    // Cancels what waits, lets what runs finish, and joins the threads.
    void stop();

private:
    void work();

    const size_t m_queueLimit;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Job> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
