#include "fakeruntime.h"

void ManualExecutor::runAll(std::mt19937* rng)
{
    while (!jobs.empty()) {
        size_t pick = 0;
        if (rng)
            pick = std::uniform_int_distribution<size_t>(0, jobs.size() - 1)(*rng);
        std::function<void()> job = std::move(jobs[pick]);
        jobs.erase(jobs.begin() + qsizetype(pick));
        job();
    }
}

Timers::Id FakeTimers::at(Clock::time_point when, std::function<void()> fire)
{
    if (stopped)
        return 0;
    pending.emplace(next, std::pair {when, std::move(fire)});
    return next++;
}

void FakeTimers::advanceTo(Clock::time_point to)
{
    for (;;) {
        auto due = pending.end();
        for (auto it = pending.begin(); it != pending.end(); ++it)
            if (it->second.first <= to
                && (due == pending.end() || it->second.first < due->second.first))
                due = it;
        if (due == pending.end())
            break;
        now = std::max(now, due->second.first);
        const auto fire = std::move(due->second.second);
        pending.erase(due);
        fire();
    }
    now = std::max(now, to);
}

void FakeNetwork::begin(
    const QString& key, std::function<void(const QByteArray&, long, Failure)> complete)
{
    if (stopped)
        return complete({}, 0, Failure::Stopping);
    ++asked[key];
    if (onBegin)
        onBegin(key);
    pending.push_back({key, std::move(complete)});
}

void FakeNetwork::resolve(
    const QString& host, std::chrono::milliseconds, std::function<void(Resolved)> done)
{
    begin(host, [done](const QByteArray& text, long, Failure failure) {
        done(failure == Failure::None
                ? Resolved {{QHostAddress(QString::fromUtf8(text))}, failure, {}}
                : Resolved {{}, failure, QStringLiteral("fake")});
    });
}

void FakeNetwork::fetch(FetchRequest request, std::function<void(HttpFetch)> done)
{
    begin(request.url, [done](const QByteArray& text, long status, Failure failure) {
        done({status, text, {}, failure, failure == Failure::None ? QString() : "fake"});
    });
}

void FakeNetwork::exchange(const Endpoint& to, const QByteArray& query, std::chrono::milliseconds,
    std::function<void(Exchange)> done)
{
    const QString key = to.address.toString() + u' ' + QString::fromUtf8(query.trimmed());
    begin(key, [done](const QByteArray& text, long, Failure failure) {
        done({text, failure, failure == Failure::None ? QString() : "fake"});
    });
}

void FakeNetwork::stop()
{
    stopped = true;
    while (!pending.empty())
        fail(0, Failure::Stopping);
}

std::vector<size_t> FakeNetwork::find(const QString& prefix) const
{
    std::vector<size_t> found;
    for (size_t i = 0; i < pending.size(); ++i)
        if (pending[i].key.startsWith(prefix))
            found.push_back(i);
    return found;
}

void FakeNetwork::answer(size_t i, const QByteArray& text, long status)
{
    const Operation operation = std::move(pending[i]);
    pending.erase(pending.begin() + qsizetype(i));
    operation.complete(text, status, Failure::None);
}

void FakeNetwork::fail(size_t i, Failure failure)
{
    const Operation operation = std::move(pending[i]);
    pending.erase(pending.begin() + qsizetype(i));
    operation.complete({}, 0, failure);
}
