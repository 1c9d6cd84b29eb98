#include "whoistext.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimeZone>

#include "service/charsetdetect.h"

namespace {

// Field names as the registries print them; compared without case.
const std::vector<WhoisFormat> kFormats = {
    {"ICANN", {}, {"Registrar", "Sponsoring Registrar"}, {"Creation Date"},
        {"Registry Expiry Date", "Registrar Registration Expiration Date", "Expiration Date"},
        {"Registrant Name"}, {"Registrant Organization"}, {"Registrant Email"}, {"Name Server"},
        {"Registrar WHOIS Server"}, 0},
    {"CNNIC", {"cn"}, {"Sponsoring Registrar"}, {"Registration Time"}, {"Expiration Time"},
        {"Registrant"}, {}, {"Registrant Contact Email"}, {"Name Server"}, {}, 8 * 60},
    {"Nominet", {"uk"}, {"Registrar"}, {"Registered on"}, {"Expiry date"}, {"Registrant"}, {}, {},
        {"Name servers"}, {}, 0},
    {"JPRS", {"jp"}, {}, {"Created on", "Registered Date"}, {"Expires on"}, {"Registrant"},
        {"Organization"}, {}, {"Name Server"}, {}, 9 * 60},
    {"DENIC", {"de"}, {}, {}, {}, {}, {}, {}, {"Nserver"}, {}, 60},
    {"TCI", {"ru", "su", "xn--p1ai"}, {"registrar"}, {"created"}, {"paid-till"}, {"person"},
        {"org"}, {"e-mail"}, {"nserver"}, {}, 0},
};

// Servers that want more than the bare name, or answer in a charset of their own.
struct ServerRow
{
    const char* host;
    const char* query; // %1: the domain
    const char* charset;
};
const ServerRow kServers[] = {
    {"whois.verisign-grs.com", "domain %1", nullptr},
    {"whois.denic.de", "-T dn,ace %1", nullptr},
    {"whois.jprs.jp", "%1/e", "ISO-2022-JP"},
    {"whois.nic.ad.jp", "%1/e", "ISO-2022-JP"},
    {"whois.kr", "%1", "EUC-KR"},
    {"whois.twnic.net.tw", "%1", "Big5"},
    {"whois.nic.ru", "%1", "KOI8-R"},
};

// Said in place of data, looked for without case in answers that hold no domain data.
const char* const kRateLimited[] = {"limit exceeded", "exceeded the maximum", "queries exceeded",
    "allowed queries", "query rate", "too many", "quota exceeded", "rate limit",
    "access control limit", "try again later"};
const char* const kNotFound[] = {"no match", "not found", "no data found", "no entries found",
    "no matching record", "status: free", "no object found", "does not exist",
    "not been registered", "is available for registration"};
const char* const kWithheld[]
    = {"redacted", "privacy service", "not disclosed", "data protected", "non-public", "not public",
        "withheld", "gdpr", "private person", "statutory masking", "rdds service"};

// Zones named after a time, in minutes east of UTC.
const QHash<QString, int> kZones = {{"Z", 0}, {"UTC", 0}, {"GMT", 0}, {"JST", 9 * 60},
    {"KST", 9 * 60}, {"CST", 8 * 60}, {"MSK", 3 * 60}, {"CET", 60}, {"CEST", 120}};

const QStringList kMonths
    = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

const ServerRow* serverRow(const QString& host)
{
    for (const ServerRow& row : kServers) {
        if (host.compare(QLatin1String(row.host), Qt::CaseInsensitive) == 0)
            return &row;
    }
    return nullptr;
}

template <class Phrases> bool containsAny(const QString& text, const Phrases& phrases)
{
    for (const char* phrase : phrases) {
        if (text.contains(QLatin1String(phrase), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

int indentOf(const QString& line)
{
    int n = 0;
    while (n < line.size() && (line[n] == u' ' || line[n] == u'\t'))
        ++n;
    return n;
}

// Every "key: value" and "[key] value" of an answer, keys in lower case. A key with nothing after
// it takes the more deeply indented lines below it as its values (Nominet's blocks).
QHash<QString, QStringList> fieldsOf(const QString& text)
{
    static const QRegularExpression bracket(
        QStringLiteral("^(?:[a-z]\\.\\s*)?\\[([^\\]]+)\\]\\s*(.*)$"));
    static const QRegularExpression colon(QStringLiteral("^([^:\\[]{1,60}?)\\s*:\\s*(.*)$"));
    QHash<QString, QStringList> fields;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'%') || line.startsWith(u'#'))
            continue;
        QRegularExpressionMatch match = bracket.match(line);
        if (!match.hasMatch())
            match = colon.match(line);
        if (!match.hasMatch())
            continue;
        const QString key = match.captured(1).simplified().toLower();
        const QString value = match.captured(2).trimmed();
        QStringList& values = fields[key];
        if (!value.isEmpty()) {
            values << value;
            continue;
        }
        const int indent = indentOf(lines[i]);
        for (qsizetype j = i + 1;
             j < lines.size() && !lines[j].trimmed().isEmpty() && indentOf(lines[j]) > indent; ++j)
            values << lines[j].trimmed();
    }
    return fields;
}

QString cleaned(QString value)
{
    static const QRegularExpression tag(QStringLiteral("\\s*\\[Tag = [^\\]]*\\]$"));
    return value.remove(tag).simplified();
}

} // namespace

const std::vector<WhoisFormat>& whoisFormats()
{
    return kFormats;
}

const WhoisFormat& registrarFormat()
{
    return kFormats.front();
}

const WhoisFormat& formatForTld(const QString& tld)
{
    for (const WhoisFormat& format : kFormats) {
        if (format.tlds.contains(tld.toLower()))
            return format;
    }
    return registrarFormat();
}

QByteArray whoisQueryFor(const QString& server, const QString& domain)
{
    const ServerRow* row = serverRow(server);
    return QString::fromLatin1(row ? row->query : "%1").arg(domain).toUtf8() + "\r\n";
}

QString decodeWhoisAnswer(const QString& server, const QByteArray& bytes)
{
    // ISO-2022-JP is 7-bit, and so passes for UTF-8: its escape sequences give it away.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError() && !bytes.contains("\x1b$"))
        return text;
    const ServerRow* row = serverRow(server);
    if (row && row->charset) {
        QStringDecoder own(row->charset);
        if (own.isValid())
            return own.decode(bytes);
    }
    return decodeDetected(bytes);
}

QDateTime parseWhoisDate(const QString& text, int utcOffsetMinutes)
{
    static const QRegularExpression yearFirst(
        QStringLiteral("^(\\d{4})[-/.](\\d{1,2})[-/.](\\d{1,2})(?:[T "
                       "]+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?(?:[.,]\\d+)?)?"
                       "\\s*\\(?(Z|[A-Z]{3,4}|[+-]\\d{2}(?::?\\d{2})?)?\\)?"));
    static const QRegularExpression dayFirst(
        QStringLiteral("^(\\d{1,2})[-./ ]([A-Za-z]{3}|\\d{1,2})[a-z]*[-./ ](\\d{4})"
                       "(?:[T "
                       "]+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?\\s*\\(?(Z|[A-Z]{3,4}|[+-]\\d{2}(?::?"
                       "\\d{2})?)?\\)?"));
    const QString value = text.trimmed();
    int year = 0, month = 0, day = 0;
    QRegularExpressionMatch match = yearFirst.match(value);
    if (match.hasMatch()) {
        year = match.captured(1).toInt();
        month = match.captured(2).toInt();
        day = match.captured(3).toInt();
    } else if ((match = dayFirst.match(value)).hasMatch()) {
        year = match.captured(3).toInt();
        const QString m = match.captured(2).toLower();
        month = m.at(0).isDigit() ? m.toInt() : int(kMonths.indexOf(m)) + 1;
        day = match.captured(1).toInt();
    } else {
        return {};
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};
    if (match.captured(4).isEmpty()) // a date alone stands for that day, whatever its zone
        return QDateTime(date, QTime(0, 0), Qt::UTC);
    const QTime time(
        match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    if (!time.isValid())
        return {};
    int offset = utcOffsetMinutes;
    const QString zone = match.captured(7);
    if (zone.startsWith(u'+') || zone.startsWith(u'-')) {
        const QString digits = zone.mid(1).remove(u':');
        offset = (digits.left(2).toInt() * 60 + digits.mid(2).toInt()) * (zone[0] == u'-' ? -1 : 1);
    } else if (!zone.isEmpty()) {
        offset = kZones.value(zone, utcOffsetMinutes);
    }
    return QDateTime(date, time, Qt::UTC).addSecs(-qint64(offset) * 60);
}

bool isWithheld(const QString& value)
{
    return containsAny(value, kWithheld);
}

bool isEmailAddress(const QString& value)
{
    static const QRegularExpression address(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s.]+$"));
    return address.match(value).hasMatch();
}

WhoisReading readWhoisAnswer(const QString& text, const WhoisFormat& format)
{
    const QHash<QString, QStringList> fields = fieldsOf(text);
    // The first value under any of names; none when no such field is there at all.
    const auto first = [&fields](const QStringList& names) -> std::optional<QString> {
        for (const QString& name : names) {
            const auto found = fields.find(name.toLower());
            if (found != fields.end())
                return found->isEmpty() ? QString() : cleaned(found->front());
        }
        return std::nullopt;
    };
    WhoisReading reading;
    DomainRecord& record = reading.record;
    record.registrar = first(format.registrar).value_or(QString());
    record.created
        = parseWhoisDate(first(format.created).value_or(QString()), format.utcOffsetMinutes);
    record.expires
        = parseWhoisDate(first(format.expires).value_or(QString()), format.utcOffsetMinutes);
    const auto name = first(format.registrantName);
    const auto organisation = first(format.registrantOrg);
    const auto email = first(format.email);
    for (const QString& candidate : {name.value_or(QString()), organisation.value_or(QString())}) {
        if (record.registrant.isEmpty() && !isWithheld(candidate))
            record.registrant = candidate;
    }
    if (email && isEmailAddress(*email) && !isWithheld(*email))
        record.email = *email;
    reading.lacksRegistrant = !name && !organisation && !email;
    reading.referral = first(format.referral).value_or(QString());
    for (const QString& key : format.nameServer) {
        for (const QString& server : fields.value(key.toLower())) {
            QString host = server.section(u' ', 0, 0).toLower();
            while (host.endsWith(u'.'))
                host.chop(1);
            if (!host.isEmpty() && !record.nameServers.contains(host))
                record.nameServers << host;
        }
    }

    const bool hasData = !record.registrar.isEmpty() || record.created.isValid()
        || record.expires.isValid() || !record.nameServers.isEmpty()
        || !record.registrant.isEmpty();
    if (hasData)
        reading.outcome = Outcome::Registered;
    else if (containsAny(text, kRateLimited))
        reading.outcome = Outcome::RateLimited;
    else if (containsAny(text, kNotFound))
        reading.outcome = Outcome::NotRegistered;
    return reading;
}
