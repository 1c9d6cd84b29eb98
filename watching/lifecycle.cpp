#include "lifecycle.h"

#include <QStringList>

namespace {

constexpr int kChangesShown = 3;

QString day(const QDateTime& at)
{
    return at.isValid() ? at.toLocalTime().date().toString(Qt::ISODate) : QString();
}

QString minute(const QDateTime& at)
{
    return at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

Lifecycle lifecycleOf(const WatchRecord& record, const QDateTime& now)
{
    if (!record.known)
        return record.checked.isValid() ? Lifecycle::Unknown : Lifecycle::Unchecked;
    const WatchFacts& facts = record.facts;
    if (facts.presence == Presence::Free)
        return Lifecycle::Free;
    if (facts.status.contains(u"pending delete"))
        return Lifecycle::PendingDelete;
    if (facts.status.contains(u"redemption period") || facts.status.contains(u"pending restore"))
        return Lifecycle::Redemption;
    if (facts.presence == Presence::Reserved)
        return Lifecycle::Reserved;
    if (!facts.expires.isValid())
        return Lifecycle::Registered;
    return daysLeft(facts, now.toLocalTime().date()) < 0 ? Lifecycle::Expired : Lifecycle::Active;
}

int daysLeft(const WatchFacts& facts, const QDate& today)
{
    return facts.expires.isValid() ? int(today.daysTo(facts.expires.toLocalTime().date())) : 0;
}

QDate estimatedFreeDate(const WatchRecord& record, const QDateTime& now)
{
    switch (lifecycleOf(record, now)) {
    case Lifecycle::Expired:
    case Lifecycle::Redemption:
    case Lifecycle::PendingDelete:
        if (record.facts.expires.isValid())
            return record.facts.expires.toLocalTime().date().addDays(
                kGraceDays + kRedemptionDays + kPendingDeleteDays);
        return {};
    default:
        return {};
    }
}

Marker markerFor(const WatchRecord& record, const QDateTime& now)
{
    using namespace markerColour;
    switch (lifecycleOf(record, now)) {
    case Lifecycle::Unchecked:
        return {};
    case Lifecycle::Unknown:
        return {QStringLiteral("?"), kCalm};
    case Lifecycle::Free:
        return {QStringLiteral("未注册"), kFree};
    case Lifecycle::Reserved:
        return {QStringLiteral("保留"), kCalm};
    case Lifecycle::Registered:
        return {QStringLiteral("已注册"), kCalm};
    case Lifecycle::Expired:
        return {QStringLiteral("已过期"), kUrgent};
    case Lifecycle::Redemption:
        return {QStringLiteral("赎回期"), kUrgent};
    case Lifecycle::PendingDelete:
        return {QStringLiteral("待删除"), kUrgent};
    case Lifecycle::Active:
        break;
    }
    const int days = daysLeft(record.facts, now.toLocalTime().date());
    return {QStringLiteral("%1天").arg(days), days <= 7 ? kUrgent : days <= 30 ? kSoon : kCalm};
}

QStringList describeRecord(const QString& name, const WatchRecord& record, const QDateTime& now)
{
    if (!record.checked.isValid())
        return {};
    const WatchFacts& facts = record.facts;
    QStringList lines {facts.domain.isEmpty() ? name : facts.domain};
    const auto line = [&lines](const char* caption, const QString& value) {
        if (!value.isEmpty())
            lines << QString::fromUtf8(caption) + value;
    };
    if (record.known) {
        switch (facts.presence) {
        case Presence::Free:
            lines << QStringLiteral("该域名尚未注册");
            break;
        case Presence::Reserved:
            lines << QStringLiteral("该域名已被注册局保留");
            break;
        case Presence::Registered:
            break;
        }
        line("注册商：",
            facts.registrarId.isEmpty()
                ? facts.registrar
                : QStringLiteral("%1（IANA %2）").arg(facts.registrar, facts.registrarId));
        line("注册人：", facts.registrant);
        line("邮箱：", facts.email);
        line("注册日期：", day(facts.created));
        line("到期日期：", day(facts.expires));
        line("状态：", facts.status.join(QStringLiteral(", ")));
        line("来源：", facts.source.split(u'\n', Qt::SkipEmptyParts).join(QStringLiteral("；")));
    }
    lines
        << QStringLiteral("检查于 %1，下次检查 %2").arg(minute(record.checked), minute(record.due));
    line("上次检查失败：", record.failure);
    const QDate free = estimatedFreeDate(record, now);
    if (free.isValid())
        lines << QStringLiteral("可注册日期：%1（估计，各注册局的宽限期与赎回期不同）")
                     .arg(free.toString(Qt::ISODate));
    if (!record.history.isEmpty()) {
        lines << QStringLiteral("最近的变化：");
        for (qsizetype i = record.history.size() - 1;
             i >= 0 && i >= record.history.size() - kChangesShown; --i)
            lines << day(record.history[i].at) + u' ' + describeChange(record.history[i]);
    }
    return lines;
}
