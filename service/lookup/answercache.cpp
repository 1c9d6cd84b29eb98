#include "answercache.h"

AnswerCache::AnswerCache(std::function<Clock::time_point()> now, qint64 limitBytes)
    : m_now(std::move(now)), m_limitBytes(limitBytes)
{ }

qint64 AnswerCache::cost(const QString& domain, const Entry& entry)
{
    constexpr qint64 kOverhead = 512;
    const LookupAnswer& a = entry.answer;
    return kOverhead + 2 * domain.size() + (a.page ? a.page->body.size() : 0)
        + (a.rdap ? a.rdap->body.size() : 0);
}

void AnswerCache::forget(const QString& domain, const Entry& entry)
{
    if (entry.answer.page) {
        m_byEnd.erase({entry.freshUntil, domain});
        m_bytes -= cost(domain, entry);
    }
}

AnswerCache::Claim AnswerCache::claim(
    const QString& domain, Form form, const Respond& respond, Sent* hit)
{
    const std::lock_guard lock(m_mutex);
    const Clock::time_point now = m_now();
    Entry& entry = m_entries[domain];
    if (!entry.waiting.empty()) {
        entry.waiting.emplace_back(form, respond);
        return Claim::Joined;
    }
    if (entry.answer.page && now < entry.freshUntil) {
        *hit = {entry.answer.in(form), entry.freshUntil};
        return Claim::Hit;
    }
    entry.waiting.emplace_back(form, respond);
    return Claim::Lead;
}

void AnswerCache::finish(
    const QString& domain, const LookupAnswer& answer, std::chrono::seconds life)
{
    std::vector<std::pair<Form, Respond>> waiting;
    std::optional<Clock::time_point> freshUntil;
    {
        const std::lock_guard lock(m_mutex);
        Entry& entry = m_entries[domain];
        waiting.swap(entry.waiting);
        forget(domain, entry);
        if (life.count() > 0) {
            entry.answer = answer;
            entry.freshUntil = m_now() + life;
            freshUntil = entry.freshUntil;
            m_byEnd.insert({entry.freshUntil, domain});
            m_bytes += cost(domain, entry);
            makeRoom();
        } else {
            m_entries.remove(domain);
        }
    }
    for (const auto& [form, respond] : waiting)
        respond({answer.in(form), freshUntil});
}

void AnswerCache::abandon(const LookupAnswer& answer)
{
    std::vector<std::pair<Form, Respond>> waiting;
    {
        const std::lock_guard lock(m_mutex);
        for (Entry& entry : m_entries) {
            for (auto& one : entry.waiting)
                waiting.push_back(std::move(one));
            entry.waiting.clear();
        }
    }
    for (const auto& [form, respond] : waiting)
        respond({answer.in(form), std::nullopt});
}

qsizetype AnswerCache::size() const
{
    const std::lock_guard lock(m_mutex);
    return m_entries.size();
}

qint64 AnswerCache::bytes() const
{
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

void AnswerCache::makeRoom()
{
    // The stalest first; a page someone waits on is being replaced, and stays until then.
    for (auto oldest = m_byEnd.begin(); m_bytes > m_limitBytes && oldest != m_byEnd.end();) {
        const QString domain = oldest->second;
        ++oldest;
        const auto entry = m_entries.find(domain);
        if (!entry->waiting.empty())
            continue;
        forget(domain, *entry);
        m_entries.erase(entry);
    }
}
