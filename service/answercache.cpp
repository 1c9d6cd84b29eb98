#include "answercache.h"

AnswerCache::AnswerCache(std::function<Clock::time_point()> now, qsizetype limit)
    : m_now(std::move(now)), m_limit(limit)
{ }

AnswerCache::Claim AnswerCache::claim(const QString& domain, const Respond& respond, Sent* hit)
{
    const std::lock_guard lock(m_mutex);
    const Clock::time_point now = m_now();
    Entry& entry = m_entries[domain];
    if (!entry.waiting.empty()) {
        entry.waiting.push_back(respond);
        return Claim::Joined;
    }
    if (entry.reply && now < entry.freshUntil) {
        *hit = {entry.reply, entry.freshUntil};
        return Claim::Hit;
    }
    entry.waiting.push_back(respond);
    return Claim::Lead;
}

void AnswerCache::finish(
    const QString& domain, std::shared_ptr<const Reply> reply, std::chrono::seconds life)
{
    std::vector<Respond> waiting;
    std::optional<Clock::time_point> freshUntil;
    {
        const std::lock_guard lock(m_mutex);
        const Clock::time_point now = m_now();
        Entry& entry = m_entries[domain];
        waiting.swap(entry.waiting);
        if (life.count() > 0) {
            entry.reply = reply;
            entry.freshUntil = now + life;
            freshUntil = entry.freshUntil;
        } else {
            m_entries.remove(domain);
        }
        if (m_entries.size() > m_limit)
            makeRoom(now);
    }
    for (const Respond& respond : waiting)
        respond({reply, freshUntil});
}

void AnswerCache::abandon(const std::shared_ptr<const Reply>& reply)
{
    std::vector<Respond> waiting;
    {
        const std::lock_guard lock(m_mutex);
        for (Entry& entry : m_entries) {
            for (Respond& respond : entry.waiting)
                waiting.push_back(std::move(respond));
            entry.waiting.clear();
        }
    }
    for (const Respond& respond : waiting)
        respond({reply, std::nullopt});
}

qsizetype AnswerCache::size() const
{
    const std::lock_guard lock(m_mutex);
    return m_entries.size();
}

void AnswerCache::makeRoom(Clock::time_point now)
{
    // Stale pages go first; if that is not enough, those nearest their end.
    m_entries.removeIf([now](QHash<QString, Entry>::iterator entry) {
        return entry->waiting.empty() && entry->freshUntil <= now;
    });
    if (m_entries.size() <= m_limit)
        return;
    std::vector<Clock::time_point> ends;
    for (const Entry& entry : std::as_const(m_entries))
        ends.push_back(entry.freshUntil);
    std::nth_element(ends.begin(), ends.begin() + ends.size() / 2, ends.end());
    const Clock::time_point median = ends[ends.size() / 2];
    m_entries.removeIf([median](QHash<QString, Entry>::iterator entry) {
        return entry->waiting.empty() && entry->freshUntil <= median;
    });
}
