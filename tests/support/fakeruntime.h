#pragma once

#include <deque>
#include <functional>
#include <map>
#include <random>
#include <vector>

#include "service/lookup/runtime.h"

// A runtime the test drives by hand, on its own thread: the executor is a queue it runs, the
// network a list of operations it completes, the clock and the timers move only when told.
struct ManualExecutor final : Executor
{
    void post(std::function<void()> job) override { jobs.push_back(std::move(job)); }
    // Runs what is queued, and what that queues, until nothing is; in a random order with rng.
    void runAll(std::mt19937* rng = nullptr);

    std::deque<std::function<void()>> jobs;
};

struct FakeTimers final : Timers
{
    Id at(Clock::time_point when, std::function<void()> fire) override;
    void cancel(Id id) override { pending.erase(id); }
    void stop() override
    {
        pending.clear();
        stopped = true;
    }
    // Moves the clock to now, firing what falls due in order.
    void advanceTo(Clock::time_point now);

    Clock::time_point now = Clock::time_point {} + std::chrono::hours(1000);
    std::map<Id, std::pair<Clock::time_point, std::function<void()>>> pending;
    Id next = 1;
    bool stopped = false;
};

struct FakeNetwork final : Network
{
    struct Operation
    {
        QString key; // the host, the URL, or "host query"
        // Ends it: with an answer (addresses, an HTTP body and status, a whois text) when
        // failure is None.
        std::function<void(const QByteArray& text, long status, Failure failure)> complete;
    };

    void resolve(const QString& host, std::chrono::milliseconds,
        std::function<void(Resolved)> done) override;
    void fetch(FetchRequest request, std::function<void(HttpFetch)> done) override;
    void exchange(const Endpoint& to, const QByteArray& query, std::chrono::milliseconds,
        std::function<void(Exchange)> done) override;
    void stop() override;

    // The operations under way whose key starts with prefix.
    std::vector<size_t> find(const QString& prefix) const;
    // Completes operation i with an answer (a whois text, an HTTP body with status, addresses).
    void answer(size_t i, const QByteArray& text, long status = 200);
    // Completes operation i with a failure.
    void fail(size_t i, Failure failure = Failure::Network);
    int count(const QString& prefix) const { return asked.count(prefix) ? asked.at(prefix) : 0; }

    std::vector<Operation> pending;
    std::map<QString, int> asked; // by key, every operation ever begun
    std::function<void(const QString& key)> onBegin; // may throw, as a broken network would
    bool stopped = false;

private:
    // Begins an operation, or ends it at once once the network has stopped.
    void begin(const QString& key, std::function<void(const QByteArray&, long, Failure)> complete);
};

// The three of them, with a task counter, as look-ups take them.
struct FakeRuntime
{
    Runtime runtime()
    {
        return {executor, network, timers, tasks, [this] { return timers.now; }};
    }

    ManualExecutor executor;
    FakeNetwork network;
    FakeTimers timers;
    TaskCounter tasks;
};
