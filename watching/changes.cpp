#include "changes.h"

#include <array>

namespace {

struct KindRow
{
    ChangeKind kind;
    const char* name;
    const char* shown;
};

// clang-format off
constexpr std::array<KindRow, 7> kKinds = {{
    {ChangeKind::Dropped,              "dropped",        "变为未注册"},
    {ChangeKind::Taken,                "taken",          "已被注册"},
    {ChangeKind::Renewed,              "renewed",        "到期日期推后（续费）"},
    {ChangeKind::CutShort,             "cut-short",      "到期日期提前"},
    {ChangeKind::RegistrarChanged,     "registrar",      "注册商变更"},
    {ChangeKind::EnteredRedemption,    "redemption",     "进入赎回期"},
    {ChangeKind::EnteredPendingDelete, "pending-delete", "进入待删除"},
}};
// clang-format on

const KindRow& rowOf(ChangeKind kind)
{
    return kKinds[size_t(kind)];
}

bool taken(Presence presence)
{
    return presence != Presence::Free;
}

// The same registrar: by IANA ID where both have one, else by name.
bool sameRegistrar(const WatchFacts& a, const WatchFacts& b)
{
    if (!a.registrarId.isEmpty() && !b.registrarId.isEmpty())
        return a.registrarId == b.registrarId;
    return a.registrar.simplified().compare(b.registrar.simplified(), Qt::CaseInsensitive) == 0;
}

QString registrarShown(const WatchFacts& facts)
{
    return facts.registrar.isEmpty() ? QStringLiteral("IANA %1").arg(facts.registrarId)
                                     : facts.registrar;
}

bool entered(const WatchFacts& before, const WatchFacts& after, const char* status)
{
    const QString code = QString::fromLatin1(status);
    return after.status.contains(code) && !before.status.contains(code);
}

} // namespace

QList<Change> detectChanges(const WatchFacts& before, const WatchFacts& after, const QDateTime& at)
{
    QList<Change> changes;
    const auto add = [&](ChangeKind kind, const QString& was = {}, const QString& is = {}) {
        changes.append({kind, at, was, is});
    };
    if (taken(before.presence) != taken(after.presence)) {
        add(taken(after.presence) ? ChangeKind::Taken : ChangeKind::Dropped);
        return changes; // nothing else compares across that line
    }
    if (after.presence == Presence::Free)
        return changes;
    const QDate was = before.expires.date(), is = after.expires.date();
    if (was.isValid() && is.isValid() && was != is)
        add(is > was ? ChangeKind::Renewed : ChangeKind::CutShort, was.toString(Qt::ISODate),
            is.toString(Qt::ISODate));
    const bool bothNamed = (!before.registrar.isEmpty() || !before.registrarId.isEmpty())
        && (!after.registrar.isEmpty() || !after.registrarId.isEmpty());
    if (bothNamed && !sameRegistrar(before, after))
        add(ChangeKind::RegistrarChanged, registrarShown(before), registrarShown(after));
    if (entered(before, after, "redemption period"))
        add(ChangeKind::EnteredRedemption);
    if (entered(before, after, "pending delete"))
        add(ChangeKind::EnteredPendingDelete);
    return changes;
}

QString describeChange(const Change& change)
{
    QString line = QString::fromUtf8(rowOf(change.kind).shown);
    if (!change.before.isEmpty() || !change.after.isEmpty())
        line += QStringLiteral("：%1 → %2").arg(change.before, change.after);
    return line;
}

QString changeKindName(ChangeKind kind)
{
    return QString::fromLatin1(rowOf(kind).name);
}

bool changeKindFromName(const QString& name, ChangeKind* kind)
{
    for (const KindRow& row : kKinds)
        if (name == QLatin1String(row.name))
            return *kind = row.kind, true;
    return false;
}
