#pragma once

#include <coroutine>
#include <deque>
#include <map>
#include <mutex>

#include <QString>

#include "service/lookup/runtime.h"

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
// minute shared out between the clients asking, and none while the server has asked us to hold
// off. A look-up that finds the server busy waits in the server's queue, holding no thread,
// until the turn is handed to it or its time to wait is up; one whose turn could not come within
// its budget, or that finds the queue full, is told so at once.
class Turns
{
public:
    enum class Verdict { Go, Limited, HeldOff, Late, Stopping };

    // The right to send one query to a server; given back, to the next in its queue, when it
    // goes.
    class Turn
    {
    public:
        Turn() = default;
        Turn(Turn&& other) noexcept;
        Turn& operator=(Turn&& other) noexcept;
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

        explicit operator bool() const { return m_turns != nullptr; }
        void giveBack();

    private:
        friend class Turns;
        Turn(Turns* turns, QString host) : m_turns(turns), m_host(std::move(host)) { }
        Turns* m_turns = nullptr;
        QString m_host;
    };

    struct Taken
    {
        Verdict verdict = Verdict::Stopping;
        Turn turn; // held when verdict is Go
    };

    // co_await turns.take(…) gives a Taken.
    class Take
    {
    public:
        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> handle);
        Taken await_resume();

    private:
        friend class Turns;
        Take(Turns& turns, QString host, Upstream kind, QString client, Clock::time_point deadline)
            : m_turns(turns)
            , m_host(std::move(host))
            , m_kind(kind)
            , m_client(std::move(client))
            , m_deadline(deadline)
        { }

        Turns& m_turns;
        QString m_host;
        Upstream m_kind;
        QString m_client;
        Clock::time_point m_deadline;
        Verdict m_verdict = Verdict::Stopping;
        std::coroutine_handle<> m_handle;
    };

    Turns(Allowances allowances, Runtime runtime);
    ~Turns();
    Turns(const Turns&) = delete;
    Turns& operator=(const Turns&) = delete;

    // A turn at host (a host name, lower case) for a look-up of client that must end by deadline.
    Take take(QString host, Upstream kind, QString client, Clock::time_point deadline);
    // The server answered "too many requests": ask it nothing for a while.
    void holdOff(const QString& host, std::chrono::seconds wait);
    // Tells every waiting look-up Stopping, and every later one.
    void stop();

private:
    struct Waiter
    {
        quint64 id;
        Take* take;
        Clock::time_point giveUpAt;
        Timers::Id timer;
    };
    struct Server
    {
        bool busy = false;
        Clock::time_point since {}; // of the query under way
        Clock::duration typical {}; // a query's usual time, as measured
        std::deque<std::pair<Clock::time_point, QString>> recent; // queries, with their client
        Clock::time_point quietUntil {};
        std::deque<Waiter> waiting;
    };

    // Go when the server is free and the allowance allows; what else to say otherwise, or
    // nothing when the look-up may wait. Locked.
    std::optional<Verdict> verdictFor(Server& server, const Take& take, Clock::time_point now);
    void startQuery(Server& server, const QString& client, Clock::time_point now);
    void giveBack(const QString& host);
    void handOn(Server& server, Clock::time_point now);
    void wake(Take* take, Verdict verdict);
    void gaveUp(const QString& host, quint64 id);
    void forgetIdle(Clock::time_point now);

    const Allowances m_allowances;
    Runtime m_runtime;
    std::mutex m_mutex;
    std::map<QString, Server> m_servers;
    quint64 m_nextWaiter = 1;
    bool m_stopping = false;
};
