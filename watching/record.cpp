#include "record.h"

#include <algorithm>

#include "watching/lifecycle.h"

namespace {

std::chrono::seconds backOff(int failures, const CheckPolicy& policy)
{
    std::chrono::seconds wait = policy.firstBackOff;
    for (int i = 1; i < failures && wait < policy.maxBackOff; ++i)
        wait *= 2;
    return std::min(wait, policy.maxBackOff);
}

std::chrono::seconds intervalFor(
    const WatchRecord& record, const QDateTime& now, const CheckPolicy& policy)
{
    switch (lifecycleOf(record, now)) {
    case Lifecycle::Free:
        return policy.daily;
    case Lifecycle::Active: {
        const int days = daysLeft(record.facts, now.toLocalTime().date());
        return days <= 30 ? policy.often : days <= 90 ? policy.daily : policy.rarely;
    }
    case Lifecycle::Expired:
    case Lifecycle::Redemption:
    case Lifecycle::PendingDelete:
        return policy.often;
    default:
        return policy.rarely;
    }
}

} // namespace

bool WatchRecord::operator==(const WatchRecord& other) const
{
    return known == other.known && facts == other.facts && checked == other.checked
        && due == other.due && failures == other.failures && failure == other.failure
        && unseen == other.unseen && history == other.history;
}

WatchRecord applyAnswer(WatchRecord record, const CheckAnswer& answer, const QDateTime& now,
    const CheckPolicy& policy, QList<Change>* found)
{
    record.checked = now;
    std::chrono::seconds wait {};
    switch (answer.kind) {
    case CheckAnswer::Kind::Facts:
    case CheckAnswer::Kind::Free: {
        const QList<Change> changes
            = record.known ? detectChanges(record.facts, answer.facts, now) : QList<Change> {};
        if (found)
            *found = changes;
        record.known = true;
        record.facts = answer.facts;
        record.failures = 0;
        record.failure.clear();
        if (!changes.isEmpty()) {
            record.unseen = true;
            record.history += changes;
            if (record.history.size() > policy.historyKept)
                record.history.remove(0, record.history.size() - policy.historyKept);
        }
        wait = intervalFor(record, now, policy);
        break;
    }
    case CheckAnswer::Kind::NotADomain:
        record.failures = 0;
        record.failure = answer.failure;
        wait = policy.notADomain;
        break;
    case CheckAnswer::Kind::Failed:
        ++record.failures;
        record.failure = answer.failure;
        wait = backOff(record.failures, policy);
        break;
    }
    record.due = now.addSecs(wait.count());
    if (answer.maxAgeSeconds > 0)
        record.due = std::max(record.due, now.addSecs(answer.maxAgeSeconds));
    if (answer.retryAfter.isValid())
        record.due = std::max(record.due, answer.retryAfter);
    return record;
}
