#pragma once

#include <array>
#include <mutex>
#include <set>
#include <vector>

#include <QHash>
#include <QString>

#include "service/http/reply.h"
#include "service/limits.h"

// The forms one look-up is answered in: the whois page the program reads, and an RDAP object.
enum class Form { Page, Rdap };

// A look-up's answer in every form.
struct LookupAnswer
{
    std::shared_ptr<const Reply> page;
    std::shared_ptr<const Reply> rdap;

    const std::shared_ptr<const Reply>& in(Form form) const
    {
        return form == Form::Page ? page : rdap;
    }
};

// Answers shared by every client: a domain's answer is kept while fresh, and any number of
// clients asking for the same domain at once, in either form, cause one upstream look-up. The
// answers kept take at most a given number of bytes; beyond it, those nearest their end (stale
// ones first) go.
class AnswerCache
{
public:
    enum class Claim { Hit, Joined, Lead };

    explicit AnswerCache(std::function<Clock::time_point()> now = Clock::now,
        qint64 limitBytes = limits::kDefaultCacheBytes);

    // Hit: *hit is the kept answer in form, to be sent at once. Joined: respond is called when
    // the look-up under way ends. Lead: nothing is under way; the caller looks the domain up and
    // calls finish(), which answers it too.
    Claim claim(const QString& domain, Form form, const Respond& respond, Sent* hit);
    // Answers everyone waiting for domain, each in their form, and keeps the answer for life
    // (zero: not at all).
    void finish(const QString& domain, const LookupAnswer& answer, std::chrono::seconds life);
    // Answers everyone waiting for any domain, keeping nothing: the service stops.
    void abandon(const LookupAnswer& answer);
    qsizetype size() const;
    // The bytes the kept answers count for.
    qint64 bytes() const;

private:
    struct Entry
    {
        LookupAnswer answer;
        Clock::time_point freshUntil {};
        std::vector<std::pair<Form, Respond>> waiting; // non-empty while a look-up is under way
    };
    // A kept answer's share of the bound: its bodies, its name and what holds them.
    static qint64 cost(const QString& domain, const Entry& entry);
    void forget(const QString& domain, const Entry& entry);
    void makeRoom();

    const std::function<Clock::time_point()> m_now;
    const qint64 m_limitBytes;
    mutable std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
    // Every kept answer by the end of its freshness, the nearest first.
    std::set<std::pair<Clock::time_point, QString>> m_byEnd;
    qint64 m_bytes = 0;
};
