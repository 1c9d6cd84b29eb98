#include "facts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

namespace {

bool hasRole(const QJsonObject& entity, const QString& role)
{
    for (const QJsonValue& value : entity.value(u"roles").toArray())
        if (value.toString().compare(role, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A property of a jCard (RFC 7095): ["vcard", [[name, params, type, value], ...]].
QString vcardValue(const QJsonObject& entity, const QString& name)
{
    const QJsonArray card = entity.value(u"vcardArray").toArray();
    for (const QJsonValue& property : card.at(1).toArray()) {
        const QJsonArray fields = property.toArray();
        if (fields.at(0).toString().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        const QJsonValue value = fields.at(3);
        // A structured value (an address) is a list; the name and e-mail are plain texts.
        return value.isString() ? value.toString().trimmed() : QString();
    }
    return {};
}

QString ianaId(const QJsonObject& entity)
{
    for (const QJsonValue& id : entity.value(u"publicIds").toArray()) {
        const QJsonObject object = id.toObject();
        if (object.value(u"type").toString().compare(u"IANA Registrar ID", Qt::CaseInsensitive)
            == 0) {
            const QJsonValue identifier = object.value(u"identifier");
            return identifier.isDouble() ? QString::number(identifier.toInteger())
                                         : identifier.toString().trimmed();
        }
    }
    return {};
}

bool hasTitle(const QJsonArray& blocks, const QString& title, QStringList* description = nullptr)
{
    for (const QJsonValue& block : blocks) {
        const QJsonObject object = block.toObject();
        if (object.value(u"title").toString().trimmed().compare(title, Qt::CaseInsensitive) != 0)
            continue;
        if (description)
            for (const QJsonValue& line : object.value(u"description").toArray())
                *description << line.toString();
        return true;
    }
    return false;
}

WatchFacts readDomain(const QJsonObject& domain)
{
    WatchFacts facts;
    facts.domain = domain.value(u"ldhName").toString().toLower();
    for (const QJsonValue& value : domain.value(u"status").toArray())
        facts.status << value.toString().trimmed().toLower();
    for (const QJsonValue& value : domain.value(u"events").toArray()) {
        const QJsonObject event = value.toObject();
        const QString action = event.value(u"eventAction").toString().toLower();
        const QDateTime at = readRfc3339(event.value(u"eventDate").toString());
        if (action == u"registration")
            facts.created = at;
        else if (action == u"expiration")
            facts.expires = at;
    }
    for (const QJsonValue& value : domain.value(u"entities").toArray()) {
        const QJsonObject entity = value.toObject();
        if (hasRole(entity, QStringLiteral("registrar")) && facts.registrar.isEmpty()) {
            facts.registrar = vcardValue(entity, QStringLiteral("fn"));
            facts.registrarId = ianaId(entity);
        }
        if (hasRole(entity, QStringLiteral("registrant")) && facts.registrant.isEmpty()) {
            facts.registrant = vcardValue(entity, QStringLiteral("fn"));
            facts.email = vcardValue(entity, QStringLiteral("email"));
        }
    }
    QStringList source;
    hasTitle(domain.value(u"notices").toArray(), QStringLiteral("Source"), &source);
    facts.source = source.join(u'\n');
    if (facts.status.contains(u"inactive")
        && hasTitle(domain.value(u"remarks").toArray(), QStringLiteral("Reserved")))
        facts.presence = Presence::Reserved;
    return facts;
}

// Retry-After: delay-seconds or an HTTP date (RFC 9110).
QDateTime readRetryAfter(const QByteArray& header, const QDateTime& now)
{
    const QByteArray text = header.trimmed();
    if (text.isEmpty())
        return {};
    bool number = false;
    const qint64 seconds = text.toLongLong(&number);
    if (number)
        return now.addSecs(std::max<qint64>(seconds, 0));
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
    if (at.isValid())
        return at.toUTC();
    // "GMT" is the only zone an HTTP date has.
    QDateTime gmt = QLocale::c().toDateTime(
        QString::fromLatin1(text).section(u' ', 0, 4), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
    gmt.setTimeZone(QTimeZone::utc());
    return gmt.isValid() ? gmt : QDateTime();
}

qint64 readMaxAge(const QByteArray& header)
{
    static const QRegularExpression maxAge(QStringLiteral("(?:^|[,\\s])max-age\\s*=\\s*\"?(\\d+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = maxAge.match(QString::fromLatin1(header));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

QString errorText(const QJsonObject& error, int status)
{
    QString text = error.value(u"title").toString();
    const QJsonArray description = error.value(u"description").toArray();
    if (!description.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("：")) + description.at(0).toString();
    return text.isEmpty() ? QStringLiteral("HTTP %1").arg(status) : text;
}

} // namespace

bool WatchFacts::operator==(const WatchFacts& other) const
{
    return presence == other.presence && domain == other.domain && registrar == other.registrar
        && registrarId == other.registrarId && registrant == other.registrant
        && email == other.email && created == other.created && expires == other.expires
        && status == other.status && source == other.source;
}

QDateTime readRfc3339(const QString& given)
{
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})(?:[Tt ](\\d{2}):(\\d{2})(?::(\\d{2}))?(?:\\.(\\d+))?"
        "\\s*([Zz]|[+-]\\d{2}:?\\d{2})?)?$"));
    const QRegularExpressionMatch match = form.match(given.trimmed());
    if (!match.hasMatch())
        return {};
    const QDate date(
        match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const int ms = match.captured(7).left(3).leftJustified(3, u'0').toInt();
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
        match.captured(6).toInt(), match.captured(7).isEmpty() ? 0 : ms);
    if (!date.isValid() || !time.isValid())
        return {};
    QString zone = match.captured(8);
    int offset = 0;
    if (!zone.isEmpty() && zone.at(0) != u'Z' && zone.at(0) != u'z') {
        zone.remove(u':');
        offset = (zone.mid(1, 2).toInt() * 60 + zone.mid(3, 2).toInt()) * 60;
        if (zone.at(0) == u'-')
            offset = -offset;
    }
    return QDateTime(date, time, QTimeZone(offset)).toUTC();
}

CheckAnswer readCheckAnswer(int httpStatus, const QByteArray& body, const QByteArray& cacheControl,
    const QByteArray& retryAfter, const QDateTime& now)
{
    CheckAnswer answer;
    answer.maxAgeSeconds = readMaxAge(cacheControl);
    answer.retryAfter = readRetryAfter(retryAfter, now);
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    switch (httpStatus) {
    case 200:
        if (object.value(u"objectClassName").toString() != u"domain") {
            answer.failure = QStringLiteral("查询服务的应答无法读取");
            return answer;
        }
        answer.kind = CheckAnswer::Kind::Facts;
        answer.facts = readDomain(object);
        return answer;
    case 404:
        answer.kind = CheckAnswer::Kind::Free;
        answer.facts.presence = Presence::Free;
        return answer;
    case 400:
        answer.kind = CheckAnswer::Kind::NotADomain;
        answer.failure = QStringLiteral("这不是可以查询的域名");
        return answer;
    case 0:
        answer.failure = QStringLiteral("查询服务没有应答");
        return answer;
    default:
        answer.failure = errorText(object, httpStatus);
        return answer;
    }
}
