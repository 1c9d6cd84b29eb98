#include "dates.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace {

// Zones named after a time, in minutes east of UTC; names used for more than one zone (CST,
// IST, BST) are left out, so their times show as written.
const QHash<QString, int> kZones = {{"Z", 0}, {"UTC", 0}, {"GMT", 0}, {"UT", 0}, {"WET", 0},
    {"WEST", 60}, {"CET", 60}, {"CEST", 120}, {"MET", 60}, {"MEST", 120}, {"EET", 120},
    {"EEST", 180}, {"MSK", 180}, {"JST", 540}, {"KST", 540}, {"HKT", 480}, {"SGT", 480},
    {"AWST", 480}, {"ACST", 570}, {"ACDT", 630}, {"AEST", 600}, {"AEDT", 660}, {"NZST", 720},
    {"NZDT", 780}, {"EST", -300}, {"EDT", -240}, {"CDT", -300}, {"MST", -420}, {"MDT", -360},
    {"PST", -480}, {"PDT", -420}, {"AKST", -540}, {"AKDT", -480}, {"HST", -600}, {"BRT", -180},
    {"BRST", -120}, {"ART", -180}};

const QStringList kMonths
    = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

} // namespace

RecordDate parseWhoisDate(
    const QString& text, std::optional<int> registryOffsetMinutes, bool monthBeforeDay)
{
    static const QString time = QStringLiteral(
        "(?:[Tt\\s]+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?(?:[.,]\\d+)?)?"
        "\\s*\\(?\\s*([Zz](?![A-Za-z])|(?:UTC|GMT|UT)?\\s*[+-]\\d{1,2}(?::?\\d{2})?|[A-Z]{2,5}"
        "(?![A-Za-z]))?");
    // Year first (also "2007. 03. 02." and yyyymmdd), day first, month name first.
    static const QRegularExpression yearFirst(
        QStringLiteral("(?<!\\d)(\\d{4})(?:[-/.]\\s?(\\d{1,2}|[A-Za-z]{3})[-/.]\\s?(\\d{1,2})\\.?|"
                       "(\\d{2})(\\d{2}))(?!\\d)")
        + time);
    // "Fri Apr 19 23:15:57 GMT 2002"
    static const QRegularExpression weekdayFirst(QStringLiteral(
        "\\b[A-Za-z]{3}\\s+([A-Za-z]{3})\\s+(\\d{1,2})\\s+(\\d{1,2}):(\\d{2}):(\\d{2})\\s+"
        "([A-Z]{2,5}|[+-]\\d{4})?\\s*(\\d{4})\\b"));
    static const QRegularExpression dayFirst(
        QStringLiteral("(?<!\\d)(\\d{1,2})(?:st|nd|rd|th)?[-./\\s]+([A-Za-z]{3,9}|\\d{1,2})"
                       "\\.?[-./\\s,]+(\\d{4})(?!\\d)")
        + time);
    static const QRegularExpression monthFirst(
        QStringLiteral("\\b([A-Za-z]{3,9})\\.?\\s+(\\d{1,2})(?:st|nd|rd|th)?,?\\s+(\\d{4})(?!\\d)")
        + time);
    const QString value = text.left(120);
    int year = 0, month = 0, day = 0, at = 0;
    const auto monthOf = [](const QString& m) {
        return m.at(0).isDigit() ? m.toInt() : int(kMonths.indexOf(m.left(3).toLower())) + 1;
    };
    QRegularExpressionMatch match;
    QString zone;
    if ((match = weekdayFirst.match(value)).hasMatch()) {
        month = monthOf(match.captured(1));
        day = match.captured(2).toInt();
        year = match.captured(7).toInt();
        at = 3;
        zone = match.captured(6);
    } else if ((match = yearFirst.match(value)).hasMatch()) {
        year = match.captured(1).toInt();
        const bool compact = match.captured(2).isEmpty();
        month = compact ? match.captured(4).toInt() : monthOf(match.captured(2));
        day = match.captured(compact ? 5 : 3).toInt();
        at = 6;
    } else if ((match = dayFirst.match(value)).hasMatch()) {
        day = match.captured(1).toInt();
        month = monthOf(match.captured(2));
        year = match.captured(3).toInt();
        // mm/dd/yyyy where the registry writes it so, or where it can be nothing else
        const bool numeric = match.captured(2).at(0).isDigit();
        if (numeric && ((monthBeforeDay && day <= 12) || (month > 12 && day <= 12)))
            std::swap(day, month);
        at = 4;
    } else if ((match = monthFirst.match(value)).hasMatch()) {
        month = monthOf(match.captured(1));
        day = match.captured(2).toInt();
        year = match.captured(3).toInt();
        at = 4;
    } else {
        return {};
    }
    const QDate date(year, month, day);
    if (!date.isValid() || month < 1)
        return {};
    if (match.captured(at).isEmpty()) // a date alone is that day, whatever its zone
        return {QDateTime(date, QTime(0, 0), Qt::UTC), false};
    const QTime clock(
        match.captured(at).toInt(), match.captured(at + 1).toInt(), match.captured(at + 2).toInt());
    if (!clock.isValid())
        return {};
    std::optional<int> offset = registryOffsetMinutes;
    if (zone.isEmpty())
        zone = match.captured(at + 3);
    zone.remove(u' ');
    const qsizetype sign = std::max(zone.indexOf(u'+'), zone.indexOf(u'-'));
    if (sign >= 0) {
        const QString digits = zone.mid(sign + 1).remove(u':');
        const int hours
            = digits.size() <= 2 ? digits.toInt() : digits.left(digits.size() - 2).toInt();
        const int minutes = digits.size() <= 2 ? 0 : digits.right(2).toInt();
        offset = (hours * 60 + minutes) * (zone[sign] == u'-' ? -1 : 1);
    } else if (!zone.isEmpty() && kZones.contains(zone.toUpper())) {
        offset = kZones.value(zone.toUpper());
    }
    const QDateTime written(date, clock, Qt::UTC);
    if (!offset)
        return {written, false};
    return {written.addSecs(-qint64(*offset) * 60), true};
}

RecordDate parseRdapDate(const QString& text)
{
    return parseWhoisDate(text, 0);
}
