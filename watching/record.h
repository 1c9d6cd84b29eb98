#pragma once

#include <chrono>

#include <QDateTime>
#include <QList>
#include <QString>

#include "watching/changes.h"
#include "watching/facts.h"

// How often names are checked: the nearer the moment something may happen, the more often.
struct CheckPolicy
{
    using seconds = std::chrono::seconds;
    seconds spacing {5}; // from the end of one check to the start of the next
    seconds rarely {7 * 24 * 3600}; // more than 90 days left, reserved, no expiry known
    seconds daily {24 * 3600}; // within 90 days, and free names
    seconds often {6 * 3600}; // within 30 days, past expiry, redemption, pending delete
    seconds firstBackOff {15 * 60}; // after a failed check, doubled at each further failure
    seconds maxBackOff {24 * 3600};
    seconds notADomain {7 * 24 * 3600};
    int historyKept = 10; // changes kept per name
};

// What is known about one watched name.
struct WatchRecord
{
    bool known = false; // facts hold a check's answer: registered, reserved or free
    WatchFacts facts;
    QDateTime checked; // the last check, however it ended, UTC; invalid: never checked
    QDateTime due; // the next check, UTC
    int failures = 0; // failed checks in a row
    QString failure; // why the last check failed; empty when it did not
    bool unseen = false; // a change the user has not looked at yet
    QList<Change> history; // oldest first, at most CheckPolicy::historyKept

    bool operator==(const WatchRecord& other) const;
};

// The record after a check that ended with answer at now; *found receives what changed. A failed
// check keeps the facts known before and backs off.
WatchRecord applyAnswer(WatchRecord record, const CheckAnswer& answer, const QDateTime& now,
    const CheckPolicy& policy, QList<Change>* found = nullptr);
