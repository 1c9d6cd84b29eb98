#pragma once

#include <mutex>
#include <set>
#include <vector>

#include <QHash>
#include <QString>

#include "service/http/reply.h"
#include "service/limits.h"

// Whois pages shared by every client: a domain's page is kept while fresh, and any number of
// clients asking for the same domain at once cause one upstream look-up. The pages kept take at
// most a given number of bytes; beyond it, those nearest their end (stale ones first) go.
class AnswerCache
{
public:
    enum class Claim { Hit, Joined, Lead };

    explicit AnswerCache(std::function<Clock::time_point()> now = Clock::now,
        qint64 limitBytes = limits::kDefaultCacheBytes);

    // Hit: *hit is the kept page, to be sent at once. Joined: respond is called when the look-up
    // under way ends. Lead: nothing is under way; the caller looks the domain up and calls
    // finish(), which answers it too.
    Claim claim(const QString& domain, const Respond& respond, Sent* hit);
    // Answers everyone waiting for domain, and keeps the page for life (zero: not at all).
    void finish(
        const QString& domain, std::shared_ptr<const Reply> reply, std::chrono::seconds life);
    // Answers everyone waiting for any domain with reply, keeping nothing: the service stops.
    void abandon(const std::shared_ptr<const Reply>& reply);
    qsizetype size() const;
    // The bytes the kept pages count for.
    qint64 bytes() const;

private:
    struct Entry
    {
        std::shared_ptr<const Reply> reply;
        Clock::time_point freshUntil {};
        std::vector<Respond> waiting; // non-empty while a look-up is under way
    };
    // A kept page's share of the bound: its body, its name and what holds them.
    static qint64 cost(const QString& domain, const Entry& entry);
    void forget(const QString& domain, const Entry& entry);
    void makeRoom();

    const std::function<Clock::time_point()> m_now;
    const qint64 m_limitBytes;
    mutable std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
    // Every kept page by the end of its freshness, the nearest first.
    std::set<std::pair<Clock::time_point, QString>> m_byEnd;
    qint64 m_bytes = 0;
};
