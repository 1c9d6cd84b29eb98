#include "turns.h"

#include <algorithm>
#include <set>

#include "service/limits.h"

using namespace std::chrono;

int Allowances::of(Upstream kind) const
{
    switch (kind) {
    case Upstream::Iana:
        return iana;
    case Upstream::Registry:
        return registry;
    case Upstream::Registrar:
        return registrar;
    }
    return registry;
}

Turns::Turn::Turn(Turn&& other) noexcept
    : m_turns(std::exchange(other.m_turns, nullptr)), m_host(std::move(other.m_host))
{ }

Turns::Turn& Turns::Turn::operator=(Turn&& other) noexcept
{
    if (this != &other) {
        giveBack();
        m_turns = std::exchange(other.m_turns, nullptr);
        m_host = std::move(other.m_host);
    }
    return *this;
}

Turns::Turn::~Turn()
{
    giveBack();
}

void Turns::Turn::giveBack()
{
    if (Turns* turns = std::exchange(m_turns, nullptr))
        turns->giveBack(m_host);
}

Turns::Turns(Allowances allowances, Runtime runtime)
    : m_allowances(allowances), m_runtime(std::move(runtime))
{ }

Turns::~Turns()
{
    stop();
}

Turns::Take Turns::take(QString host, Upstream kind, QString client, Clock::time_point deadline)
{
    return Take(*this, std::move(host), kind, std::move(client), deadline);
}

std::optional<Turns::Verdict> Turns::verdictFor(
    Server& server, const Take& take, Clock::time_point now)
{
    if (m_stopping)
        return Verdict::Stopping;
    // Too late for a query of this server's usual time is too late.
    if (take.m_deadline - now < std::max<Clock::duration>(limits::kShortestHop, server.typical))
        return Verdict::Late;
    if (now < server.quietUntil)
        return Verdict::HeldOff;
    while (!server.recent.empty() && server.recent.front().first <= now - minutes(1))
        server.recent.pop_front();
    // The allowance, and of it the client's share: a client alone gets half, so that a newcomer
    // finds as much left; from three clients on, each gets an equal part.
    const int allowance = m_allowances.of(take.m_kind);
    if (int(server.recent.size()) >= allowance)
        return Verdict::Limited;
    std::set<QString> others;
    int own = 0;
    for (const auto& [at, who] : server.recent) {
        if (who == take.m_client)
            ++own;
        else
            others.insert(who);
    }
    if (own >= std::max(1, allowance / std::max(2, int(others.size()) + 1)))
        return Verdict::Limited;
    if (!server.busy)
        return Verdict::Go;
    // Its turn comes after every waiter ahead and the query under way: too late, or too many
    // waiting, and it is told so now rather than at the end of its budget.
    const Clock::duration each = std::max(server.typical, now - server.since);
    const Clock::time_point turn = now + each * qint64(server.waiting.size() + 1);
    if (int(server.waiting.size()) >= limits::kMostWaitingPerServer
        || turn + limits::kShortestHop > take.m_deadline)
        return Verdict::Limited;
    return std::nullopt;
}

void Turns::startQuery(Server& server, const QString& client, Clock::time_point now)
{
    server.busy = true;
    server.since = now;
    server.recent.emplace_back(now, client);
}

bool Turns::Take::await_suspend(std::coroutine_handle<> handle)
{
    const std::lock_guard lock(m_turns.m_mutex);
    const Clock::time_point now = m_turns.m_runtime.now();
    Server& server = m_turns.m_servers[m_host];
    if (const std::optional<Verdict> verdict = m_turns.verdictFor(server, *this, now)) {
        m_verdict = *verdict;
        if (m_verdict == Verdict::Go)
            m_turns.startQuery(server, m_client, now);
        return false; // goes on at once
    }
    m_handle = handle;
    const quint64 id = m_turns.m_nextWaiter++;
    const Clock::time_point giveUpAt = m_deadline - limits::kShortestHop;
    const Timers::Id timer = m_turns.m_runtime.timers.at(
        giveUpAt, [turns = &m_turns, host = m_host, id] { turns->gaveUp(host, id); });
    server.waiting.push_back({id, this, giveUpAt, timer});
    return true;
}

Turns::Taken Turns::Take::await_resume()
{
    return {m_verdict, m_verdict == Verdict::Go ? Turn(&m_turns, m_host) : Turn()};
}

void Turns::wake(Take* take, Verdict verdict)
{
    take->m_verdict = verdict;
    m_runtime.executor.resume(take->m_handle);
}

void Turns::giveBack(const QString& host)
{
    const std::lock_guard lock(m_mutex);
    const Clock::time_point now = m_runtime.now();
    Server& server = m_servers[host];
    const Clock::duration took = now - server.since;
    server.typical
        = server.typical == Clock::duration::zero() ? took : (server.typical * 3 + took) / 4;
    server.busy = false;
    handOn(server, now);
    if (int(m_servers.size()) > limits::kKeptServers)
        forgetIdle(now);
}

void Turns::handOn(Server& server, Clock::time_point now)
{
    // The turn goes to the first waiter who may still use it; it is theirs from here on.
    while (!server.busy && !server.waiting.empty()) {
        const Waiter next = server.waiting.front();
        server.waiting.pop_front();
        m_runtime.timers.cancel(next.timer);
        std::optional<Verdict> verdict = m_stopping ? Verdict::Stopping
            : now >= next.giveUpAt                  ? Verdict::Late
                                                    : verdictFor(server, *next.take, now);
        if (!verdict) // free now, so never the case; taken as a go all the same
            verdict = Verdict::Go;
        if (*verdict == Verdict::Go)
            startQuery(server, next.take->m_client, now);
        wake(next.take, *verdict);
    }
    // Those whose turn can no longer come in time learn it now, not at the end of their budget.
    for (size_t i = 0; i < server.waiting.size();) {
        const Waiter& waiter = server.waiting[i];
        if (now + server.typical * qint64(i + 1) > waiter.giveUpAt) {
            m_runtime.timers.cancel(waiter.timer);
            wake(waiter.take, Verdict::Limited);
            server.waiting.erase(server.waiting.begin() + qsizetype(i));
        } else {
            ++i;
        }
    }
}

void Turns::gaveUp(const QString& host, quint64 id)
{
    const std::lock_guard lock(m_mutex);
    const auto server = m_servers.find(host);
    if (server == m_servers.end())
        return;
    auto& waiting = server->second.waiting;
    const auto found = std::find_if(
        waiting.begin(), waiting.end(), [id](const Waiter& waiter) { return waiter.id == id; });
    if (found == waiting.end())
        return; // handed its turn, or told otherwise, meanwhile
    Take* const take = found->take;
    waiting.erase(found);
    wake(take, Verdict::Late);
}

void Turns::holdOff(const QString& host, seconds wait)
{
    const std::lock_guard lock(m_mutex);
    Server& server = m_servers[host];
    server.quietUntil
        = std::max(server.quietUntil, m_runtime.now() + std::min(wait, limits::kLongestHoldOff));
}

void Turns::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
    for (auto& [host, server] : m_servers) {
        for (const Waiter& waiter : server.waiting) {
            m_runtime.timers.cancel(waiter.timer);
            wake(waiter.take, Verdict::Stopping);
        }
        server.waiting.clear();
    }
}

void Turns::forgetIdle(Clock::time_point now)
{
    for (auto it = m_servers.begin(); it != m_servers.end();) {
        const Server& server = it->second;
        const bool idle = !server.busy && server.waiting.empty() && now >= server.quietUntil
            && (server.recent.empty() || server.recent.back().first <= now - minutes(1));
        it = idle ? m_servers.erase(it) : std::next(it);
    }
}
