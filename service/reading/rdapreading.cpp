#include "rdapreading.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include "service/limits.h"
#include "service/reading/dates.h"
#include "service/reading/whoistext.h"

namespace {

// The text of a vCard property (RFC 7095): ["fn", {}, "text", "Example Inc."].
QString vcardValue(const QJsonObject& entity, const QString& property)
{
    const QJsonArray card = entity.value(QLatin1String("vcardArray")).toArray().at(1).toArray();
    for (const QJsonValue& item : card) {
        const QJsonArray fields = item.toArray();
        if (fields.at(0).toString().compare(property, Qt::CaseInsensitive) != 0)
            continue;
        const QJsonValue value = fields.at(3);
        if (!value.isArray())
            return value.toString().simplified();
        QStringList parts;
        for (const QJsonValue& part : value.toArray())
            if (!part.toString().isEmpty())
                parts << part.toString();
        return parts.join(u' ').simplified();
    }
    return {};
}

bool hasRole(const QJsonObject& entity, const char* role)
{
    for (const QJsonValue& value : entity.value(QLatin1String("roles")).toArray())
        if (value.toString().compare(QLatin1String(role), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

RdapReading readRdapDomain(const QByteArray& json)
{
    RdapReading reading;
    QJsonParseError error {};
    const QJsonObject domain = QJsonDocument::fromJson(json, &error).object();
    if (error.error != QJsonParseError::NoError
        || domain.value(QLatin1String("objectClassName")).toString() != QLatin1String("domain"))
        return reading;
    reading.valid = true;
    DomainRecord& record = reading.record;
    for (const QJsonValue& event : domain.value(QLatin1String("events")).toArray()) {
        const QString action = event.toObject().value(QLatin1String("eventAction")).toString();
        const RecordDate date
            = parseRdapDate(event.toObject().value(QLatin1String("eventDate")).toString());
        if (action == QLatin1String("registration"))
            record.created = date;
        else if (action == QLatin1String("expiration"))
            record.expires = date;
        else if (action == QLatin1String("last changed"))
            record.changed = date;
    }
    // RFC 9537: what the server says it has redacted is not public, whatever stands in its place.
    // A set: every registrant entity is matched against them, and either may number thousands.
    QSet<QString> redacted;
    for (const QJsonValue& entry : domain.value(QLatin1String("redacted")).toArray())
        redacted.insert(entry.toObject()
                            .value(QLatin1String("name"))
                            .toObject()
                            .value(QLatin1String("type"))
                            .toString()
                            .toLower());
    const auto shown = [&redacted](const QString& value, const char* type) {
        return value.isEmpty() || isWithheld(value) || redacted.contains(QLatin1String(type))
            ? QString()
            : value;
    };
    reading.lacksRegistrant = true;
    for (const QJsonValue& value : domain.value(QLatin1String("entities")).toArray()) {
        const QJsonObject entity = value.toObject();
        if (hasRole(entity, "registrar") && record.registrar.isEmpty()) {
            record.registrar = vcardValue(entity, QStringLiteral("fn"));
            if (record.registrar.isEmpty())
                record.registrar = vcardValue(entity, QStringLiteral("org"));
            if (record.registrar.isEmpty())
                record.registrar = entity.value(QLatin1String("handle")).toString();
            for (const QJsonValue& id : entity.value(QLatin1String("publicIds")).toArray()) {
                if (id.toObject().value(QLatin1String("type")).toString()
                    == QLatin1String("IANA Registrar ID"))
                    record.registrarId
                        = id.toObject().value(QLatin1String("identifier")).toString();
            }
        }
        if (hasRole(entity, "registrant")) {
            reading.lacksRegistrant = false;
            record.registrant = shown(vcardValue(entity, QStringLiteral("fn")), "registrant name");
            if (record.registrant.isEmpty())
                record.registrant
                    = shown(vcardValue(entity, QStringLiteral("org")), "registrant organization");
            const QString email
                = shown(vcardValue(entity, QStringLiteral("email")), "registrant email");
            record.email = isEmailAddress(email) ? email : QString();
        }
    }
    for (const QJsonValue& status : domain.value(QLatin1String("status")).toArray()) {
        const QString value = status.toString().simplified().toLower();
        if (record.status.size() == limits::kMostStatuses)
            break;
        if (!value.isEmpty() && !record.status.contains(value))
            record.status << value;
    }
    for (const QJsonValue& server : domain.value(QLatin1String("nameservers")).toArray()) {
        if (record.nameServers.size() == limits::kMostNameServers)
            break;
        const QString name = server.toObject().value(QLatin1String("ldhName")).toString().toLower();
        if (!name.isEmpty() && !record.nameServers.contains(name))
            record.nameServers << name;
    }
    for (const QJsonValue& value : domain.value(QLatin1String("links")).toArray()) {
        const QJsonObject link = value.toObject();
        if (link.value(QLatin1String("rel")).toString() == QLatin1String("related")
            && link.value(QLatin1String("type"))
                   .toString()
                   .startsWith(QLatin1String("application/rdap+json")))
            reading.related = link.value(QLatin1String("href")).toString();
    }
    return reading;
}
