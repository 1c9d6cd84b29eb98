#include "politeness.h"

#include <algorithm>
#include <set>

using namespace std::chrono;

namespace {

// Look-ups waiting for one server at most; more are told Limited.
constexpr size_t kMostWaiting = 64;

} // namespace

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

Politeness::Politeness(Allowances allowances, std::function<Clock::time_point()> now)
    : m_allowances(allowances), m_now(std::move(now)), m_watch(&Politeness::watch, this)
{ }

Politeness::~Politeness()
{
    stop();
    m_watch.join();
}

Politeness::Verdict Politeness::enter(const QString& host, Upstream kind, Deadline deadline)
{
    Lookup* const lookup = deadline.lookup;
    const QString client = lookup ? lookup->client : QString();
    std::unique_lock lock(m_mutex);
    for (;;) {
        // Too late for a query of this server's usual time is too late.
        Server& server = m_servers[host.toLower()];
        if (deadline.left() < std::max<Clock::duration>(kShortestHop, server.typical) || m_stopping)
            return Verdict::Late;
        const Clock::time_point now = m_now();
        if (now < server.quietUntil)
            return Verdict::HeldOff;
        while (!server.recent.empty() && server.recent.front().first <= now - minutes(1))
            server.recent.pop_front();
        // The allowance, and of it the client's share: a client alone gets half, so that a
        // newcomer finds as much left; from three clients on, each gets an equal part.
        const int allowance = m_allowances.of(kind);
        if (int(server.recent.size()) >= allowance)
            return Verdict::Limited;
        std::set<QString> others;
        int own = 0;
        for (const auto& [at, who] : server.recent) {
            if (who == client)
                ++own;
            else
                others.insert(who);
        }
        if (own >= std::max(1, allowance / std::max(2, int(others.size()) + 1)))
            return Verdict::Limited;
        const bool mine = server.busy && lookup && server.handedTo == lookup;
        if (!server.busy || mine) {
            server.busy = true;
            server.handedTo = nullptr;
            server.since = Clock::now();
            server.recent.emplace_back(now, client);
            return Verdict::Go;
        }
        if (!lookup || !lookup->resume) { // waits on its own thread
            m_freed.wait_until(lock, deadline.at - kShortestHop);
            continue;
        }
        // Its turn comes after every waiter ahead and the query under way: too late, or too
        // many waiting, and it is told so now rather than at the end of its budget.
        const Clock::time_point real = Clock::now();
        const Clock::duration each = std::max(server.typical, real - server.since);
        const Clock::time_point turn = real + each * qint64(server.waiting.size() + 1);
        if (server.waiting.size() >= kMostWaiting || turn + kShortestHop > deadline.at)
            return Verdict::Limited;
        server.waiting.push_back({lookup->shared_from_this(), deadline.at - kShortestHop});
        m_changed.notify_all();
        return Verdict::Queued;
    }
}

void Politeness::leave(const QString& host)
{
    std::vector<std::shared_ptr<Lookup>> resume;
    {
        const std::lock_guard lock(m_mutex);
        Server& server = m_servers[host.toLower()];
        const Clock::duration took = Clock::now() - server.since;
        server.typical
            = server.typical == Clock::duration::zero() ? took : (server.typical * 3 + took) / 4;
        server.busy = false;
        handOn(server, resume);
    }
    m_freed.notify_all();
    for (const auto& lookup : resume)
        lookup->resume();
}

void Politeness::handOn(Server& server, std::vector<std::shared_ptr<Lookup>>& resume)
{
    const Clock::time_point now = Clock::now();
    while (!server.busy && !server.waiting.empty()) {
        Waiter next = std::move(server.waiting.front());
        server.waiting.pop_front();
        if (next.giveUpAt > now) {
            server.busy = true;
            server.handedTo = next.lookup.get();
            server.since = now;
        }
        resume.push_back(std::move(next.lookup)); // one past its time learns so when it runs
    }
    // Those whose turn can no longer come in time learn it now, not at the end of their budget.
    const Clock::duration each = server.typical;
    for (size_t i = 0; i < server.waiting.size();) {
        if (now + each * qint64(i + 1) > server.waiting[i].giveUpAt) {
            resume.push_back(std::move(server.waiting[i].lookup));
            server.waiting.erase(server.waiting.begin() + std::ptrdiff_t(i));
        } else {
            ++i;
        }
    }
}

void Politeness::holdOff(const QString& host, seconds wait)
{
    const std::lock_guard lock(m_mutex);
    Server& server = m_servers[host.toLower()];
    server.quietUntil = std::max(server.quietUntil, m_now() + std::min(wait, kLongestHoldOff));
}

void Politeness::release(const Lookup* lookup)
{
    std::vector<std::shared_ptr<Lookup>> resume;
    {
        const std::lock_guard lock(m_mutex);
        for (auto& [host, server] : m_servers) {
            if (server.busy && server.handedTo == lookup) {
                server.busy = false;
                server.handedTo = nullptr;
                handOn(server, resume);
            }
        }
    }
    m_freed.notify_all();
    for (const auto& waiting : resume)
        waiting->resume();
}

void Politeness::stop()
{
    std::vector<Waiter> dropped; // let go unlocked: a look-up's end may call back in
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (auto& [host, server] : m_servers) {
            for (Waiter& waiter : server.waiting)
                dropped.push_back(std::move(waiter));
            server.waiting.clear();
        }
    }
    m_freed.notify_all();
    m_changed.notify_all();
}

void Politeness::away()
{
    const std::lock_guard lock(m_mutex);
    ++m_away;
}

void Politeness::back()
{
    {
        const std::lock_guard lock(m_mutex);
        --m_away;
    }
    m_freed.notify_all();
}

void Politeness::drain()
{
    std::unique_lock lock(m_mutex);
    m_freed.wait(lock, [this] { return m_away == 0; });
}

void Politeness::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        std::vector<std::shared_ptr<Lookup>> resume;
        for (auto& [host, server] : m_servers) {
            auto& waiting = server.waiting;
            for (auto it = waiting.begin(); it != waiting.end();) {
                if (it->giveUpAt <= now) {
                    resume.push_back(std::move(it->lookup));
                    it = waiting.erase(it);
                } else {
                    next = std::min(next, it->giveUpAt);
                    ++it;
                }
            }
        }
        if (!resume.empty()) {
            lock.unlock();
            for (const auto& lookup : resume)
                lookup->resume();
            lock.lock();
            continue;
        }
        if (next == Clock::time_point::max())
            m_changed.wait(lock);
        else
            m_changed.wait_until(lock, next);
    }
}
