#pragma once

#include <mutex>
#include <vector>

#include <QHash>
#include <QString>

#include "service/reply.h"

// Whois pages shared by every client: a domain's page is kept while fresh, and any number of
// clients asking for the same domain at once cause one upstream look-up.
class AnswerCache
{
public:
    enum class Claim { Hit, Joined, Lead };

    explicit AnswerCache(
        std::function<Clock::time_point()> now = Clock::now, qsizetype limit = 100000);

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

private:
    struct Entry
    {
        std::shared_ptr<const Reply> reply;
        Clock::time_point freshUntil {};
        std::vector<Respond> waiting; // non-empty while a look-up is under way
    };
    void makeRoom(Clock::time_point now);

    const std::function<Clock::time_point()> m_now;
    const qsizetype m_limit;
    mutable std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};
