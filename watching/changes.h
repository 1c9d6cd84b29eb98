#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include "watching/facts.h"

// The changes a watcher wants to hear of. Stored by these names: keep them.
enum class ChangeKind {
    Dropped, // registered (or reserved) to free
    Taken, // free to registered (or reserved)
    Renewed, // expiry moved later
    CutShort, // expiry moved earlier
    RegistrarChanged,
    EnteredRedemption,
    EnteredPendingDelete,
};

struct Change
{
    ChangeKind kind = ChangeKind::Dropped;
    QDateTime at; // when the check found it, UTC
    QString before, after; // the values compared, as shown; empty for a state entered

    bool operator==(const Change& other) const
    {
        return kind == other.kind && at == other.at && before == other.before
            && after == other.after;
    }
};

// What changed from one check's facts to the next's, found at at. Facts a registry leaves out
// (an empty registrar, no expiry) are not a change.
QList<Change> detectChanges(const WatchFacts& before, const WatchFacts& after, const QDateTime& at);

// One line for a change, as the tooltip shows it.
QString describeChange(const Change& change);

// The stored name of a kind and back; false when name is none of them.
QString changeKindName(ChangeKind kind);
bool changeKindFromName(const QString& name, ChangeKind* kind);
