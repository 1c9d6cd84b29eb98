#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <QString>

#include "service/net/upstream.h"

// The kinds of upstream server, each with an allowance of its own.
enum class Upstream { Iana, Registry, Registrar };

// Queries a minute each server of a kind may be sent by the whole service.
struct Allowances
{
    int iana = 30; // asked once a day per TLD
    int registry = 60; // a registry's RDAP or port 43
    int registrar = 20; // registrars' servers are the strictest

    int of(Upstream kind) const;
};

// Keeps the service polite to each upstream server: one query at a time, its kind's allowance a
// minute, shared out between the clients asking, and none while the server has asked us to hold
// off. Shared by every look-up.
//
// A look-up that finds the server busy waits in the server's queue without a thread: it is told
// Queued, gives its worker back, and its Lookup::resume runs when the server is handed to it, or
// when its time to wait is up. One that could not have its turn within its budget, or finds the
// queue full, is told Limited at once.
class Politeness
{
public:
    enum class Verdict { Go, Limited, HeldOff, Late, Queued };

    explicit Politeness(Allowances allowances, std::function<Clock::time_point()> now = Clock::now);
    ~Politeness();
    Politeness(const Politeness&) = delete;
    Politeness& operator=(const Politeness&) = delete;

    // Go: the caller may query host now and must leave() after. Limited when the allowance or
    // the client's share of it is spent, or the queue is too long for the look-up's budget;
    // HeldOff while the server's own "too many requests" lasts; Late when too little of the
    // look-up's time is left for a query of the server's usual time.
    // Queued only for a look-up that can be resumed; one that cannot waits here.
    Verdict enter(const QString& host, Upstream kind, Deadline deadline);
    void leave(const QString& host);
    // The server answered "too many requests": ask it nothing for a while.
    void holdOff(const QString& host, std::chrono::seconds wait);
    // The look-up's run has ended: a server handed to it that it did not take goes to the next.
    void release(const Lookup* lookup);
    // Forgets every waiting look-up without resuming it, for a service that stops.
    void stop();
    // A query's answer is awaited on the transfer thread, which calls back() once it has left
    // the server and resumed the look-up; drain() waits until every one is back.
    void away();
    void back();
    void drain();

private:
    struct Waiter
    {
        std::shared_ptr<Lookup> lookup;
        Clock::time_point giveUpAt;
    };
    struct Server
    {
        bool busy = false;
        const Lookup* handedTo = nullptr; // busy, kept for this resumed look-up
        Clock::time_point since {}; // of the query under way
        Clock::duration typical {}; // a query's usual time, as measured
        std::deque<std::pair<Clock::time_point, QString>> recent; // queries, with their client
        Clock::time_point quietUntil {};
        std::deque<Waiter> waiting;
    };

    // Hands a free server to its first waiter; returns what to resume once unlocked.
    void handOn(Server& server, std::vector<std::shared_ptr<Lookup>>& resume);
    void watch();

    const Allowances m_allowances;
    const std::function<Clock::time_point()> m_now;
    std::mutex m_mutex;
    std::condition_variable m_freed; // for look-ups that wait on their thread
    std::condition_variable m_changed; // for the watch over waiting look-ups
    std::map<QString, Server> m_servers;
    bool m_stopping = false;
    int m_away = 0;
    std::thread m_watch;
};
