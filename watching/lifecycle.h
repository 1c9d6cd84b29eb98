#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

#include "watching/record.h"

// Where a name stands, as its marker says.
enum class Lifecycle {
    Unchecked, // never checked: no marker
    Unknown, // checks failed and nothing is known: "?"
    Free,
    Reserved,
    Registered, // no expiry known
    Active, // days left
    Expired, // past expiry, in the grace period
    Redemption,
    PendingDelete,
};

Lifecycle lifecycleOf(const WatchRecord& record, const QDateTime& now);

// Days from today to the expiry's date, both local; negative past it. 0 without an expiry.
int daysLeft(const WatchFacts& facts, const QDate& today);

// The usual grace, redemption and pending-delete periods after expiry. Registries differ, so a
// date reckoned from them is an estimate.
constexpr int kGraceDays = 45;
constexpr int kRedemptionDays = 30;
constexpr int kPendingDeleteDays = 5;

// When a name past its expiry would become free to register; invalid for a name not past it.
QDate estimatedFreeDate(const WatchRecord& record, const QDateTime& now);

// The word or days painted beside an entry, in its colour (0xAARRGGBB). Empty text: no marker.
struct Marker
{
    QString text;
    quint32 colour = 0;
};

namespace markerColour {
constexpr quint32 kCalm = 0xff5a5a5a; // more than 30 days, reserved, unknown
constexpr quint32 kSoon = 0xffa86400; // 30 days or fewer: amber
constexpr quint32 kUrgent = 0xffc00000; // 7 days or fewer, past expiry
constexpr quint32 kFree = 0xff1e8c1e;
} // namespace markerColour

Marker markerFor(const WatchRecord& record, const QDateTime& now);

// The tooltip's lines for an entry: the six facts, status codes, source, when checked and next,
// a failure, the estimated free date, the latest changes. Plain text; empty when never checked.
QStringList describeRecord(const QString& name, const WatchRecord& record, const QDateTime& now);
