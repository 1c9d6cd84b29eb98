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

void FakeNetwork::resolve(
    const QString& host, std::chrono::milliseconds, std::function<void(Resolved)> done)
{
    if (stopped)
        return done({{}, Failure::Stopping, {}});
    ++asked[host];
    if (onBegin)
        onBegin(host);
    pending.push_back({Kind::Resolve, host, std::move(done), {}, {}});
}

void FakeNetwork::fetch(FetchRequest request, std::function<void(HttpFetch)> done)
{
    if (stopped)
        return done({0, {}, {}, Failure::Stopping, {}});
    ++asked[request.url];
    if (onBegin)
        onBegin(request.url);
    pending.push_back({Kind::Fetch, request.url, {}, std::move(done), {}});
}

void FakeNetwork::exchange(const Endpoint& to, const QByteArray& query, std::chrono::milliseconds,
    std::function<void(Exchange)> done)
{
    if (stopped)
        return done({{}, Failure::Stopping, {}});
    const QString key = to.address.toString() + u' ' + QString::fromUtf8(query.trimmed());
    ++asked[key];
    if (onBegin)
        onBegin(key);
    pending.push_back({Kind::Exchange, key, {}, {}, std::move(done)});
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
    Operation operation = std::move(pending[i]);
    pending.erase(pending.begin() + qsizetype(i));
    switch (operation.kind) {
    case Kind::Resolve:
        return operation.resolved({{QHostAddress(QString::fromUtf8(text))}, Failure::None, {}});
    case Kind::Fetch:
        return operation.fetched({status, text, {}, Failure::None, {}});
    case Kind::Exchange:
        return operation.exchanged({text, Failure::None, {}});
    }
}

void FakeNetwork::fail(size_t i, Failure failure)
{
    Operation operation = std::move(pending[i]);
    pending.erase(pending.begin() + qsizetype(i));
    switch (operation.kind) {
    case Kind::Resolve:
        return operation.resolved({{}, failure, QStringLiteral("fake")});
    case Kind::Fetch:
        return operation.fetched({0, {}, {}, failure, QStringLiteral("fake")});
    case Kind::Exchange:
        return operation.exchanged({{}, failure, QStringLiteral("fake")});
    }
}
