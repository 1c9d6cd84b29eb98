#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "service/lookup/task.h"

// The threads look-ups run on. They only compute: a look-up that waits gives its thread back and
// is posted here again once what it awaits is ready. New look-ups enter through begin(), which
// refuses when too many already wait to begin; resumptions are never refused.
class WorkPool final : public Executor
{
public:
    explicit WorkPool(int threads);
    ~WorkPool() override;
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    void post(std::function<void()> job) override;
    // False when queueLimit new look-ups already wait, or the pool stops.
    bool begin(std::function<void()> job, int queueLimit);
    // Runs what is queued, then joins the threads.
    void stop();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_queue;
    int m_waitingToBegin = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
