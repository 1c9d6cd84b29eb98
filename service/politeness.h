#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include <QString>

#include "service/upstream.h"

// Keeps the service polite to each upstream server: one query at a time, at most perMinute
// queries a minute, and none while the server has asked us to hold off. Shared by every look-up.
class Politeness
{
public:
    enum class Verdict { Go, Limited, Late };

    explicit Politeness(int perMinute, std::function<Clock::time_point()> now = Clock::now);

    // Go: the caller may query host now and must leave() after. Limited at once when the
    // minute's queries are spent or the server asked us to wait; Late when too little of the
    // look-up's time is left for a query, waiting for the server's previous one included.
    Verdict enter(const QString& host, Deadline deadline);
    void leave(const QString& host);
    // The server answered "too many requests": ask it nothing for a while.
    void holdOff(const QString& host, std::chrono::seconds wait);

private:
    struct Server
    {
        bool busy = false;
        std::deque<Clock::time_point> recent;
        Clock::time_point quietUntil {};
    };

    const int m_perMinute;
    const std::function<Clock::time_point()> m_now;
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::map<QString, Server> m_servers;
};
