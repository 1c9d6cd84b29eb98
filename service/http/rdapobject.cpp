#include "rdapobject.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include "service/http/page.h"
#include "service/limits.h"
#include "service/names/domainname.h"

namespace {

const QJsonArray kConformance {QStringLiteral("rdap_level_0")};

// RDAP's status values (the IANA registry of RDAP JSON values) that a domain may have.
const QSet<QString>& statusValues()
{
    static const QSet<QString> values = {"validated", "renew prohibited", "update prohibited",
        "transfer prohibited", "delete prohibited", "proxy", "private", "removed", "obscured",
        "associated", "active", "inactive", "locked", "pending create", "pending renew",
        "pending transfer", "pending update", "pending delete", "add period", "auto renew period",
        "client delete prohibited", "client hold", "client renew prohibited",
        "client transfer prohibited", "client update prohibited", "pending restore",
        "redemption period", "renew period", "server delete prohibited", "server renew prohibited",
        "server transfer prohibited", "server update prohibited", "server hold", "transfer period"};
    return values;
}

QJsonArray lines(const QStringList& texts)
{
    return QJsonArray::fromStringList(texts);
}

QJsonObject titled(const QString& title, const QStringList& description)
{
    return {{QStringLiteral("title"), title}, {QStringLiteral("description"), lines(description)}};
}

QJsonArray vcard(const QList<QJsonArray>& properties)
{
    QJsonArray card {QJsonArray {
        QStringLiteral("version"), QJsonObject {}, QStringLiteral("text"), QStringLiteral("4.0")}};
    for (const QJsonArray& property : properties)
        card.append(property);
    return {QStringLiteral("vcard"), card};
}

QJsonArray textProperty(const QString& name, const QString& value)
{
    return {name, QJsonObject {}, QStringLiteral("text"), value};
}

// RFC 3339 in UTC. A whois time written without a zone is taken as written.
QString rfc3339(const RecordDate& date)
{
    return date.at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

// A value as an RDAP text: on one line, and no longer than the page would show it.
QString shown(const QString& value)
{
    const QString line = value.left(8 * limits::kLongestShownValue).simplified();
    return line.size() > limits::kLongestShownValue
        ? line.left(limits::kLongestShownValue) + QStringLiteral("\u2026")
        : line;
}

Reply json(int status, const QJsonObject& object, int maxAgeSeconds)
{
    Reply reply;
    reply.status = status;
    reply.contentType = "application/rdap+json";
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    reply.maxAgeSeconds = maxAgeSeconds;
    // RDAP is read by scripts in web pages too (RFC 7480 5.6).
    reply.headers = {{"Access-Control-Allow-Origin", "*"}};
    return reply;
}

QJsonObject errorObject(int status, const QString& title, const QString& description)
{
    return {{QStringLiteral("rdapConformance"), kConformance},
        {QStringLiteral("errorCode"), status}, {QStringLiteral("title"), title},
        {QStringLiteral("description"), lines({description})}};
}

// Where the facts came from, and whether they were translated.
QJsonObject sourceNotice(const LookupResult& result)
{
    QStringList said;
    for (const QString& from : result.from) {
        said << (from.startsWith(QLatin1String("http")) ? QStringLiteral("RDAP: ") + from
                                                        : QStringLiteral("whois: ") + from
                    + QStringLiteral(" (translated from the whois answer)"));
    }
    return titled(QStringLiteral("Source"), said);
}

} // namespace

QStringList rdapStatus(const QStringList& codes)
{
    static const QRegularExpression hump(QStringLiteral("(?<=[a-z])(?=[A-Z])"));
    static const QSet<QString> active = {"ok", "active", "registered", "connect"};
    QStringList statuses;
    for (const QString& code : codes) {
        QString value = QString(code).replace(hump, QStringLiteral(" ")).simplified().toLower();
        if (active.contains(value))
            value = QStringLiteral("active");
        if (statusValues().contains(value) && !statuses.contains(value))
            statuses << value;
    }
    return statuses;
}

Reply rdapDomainReply(const QString& domain, const LookupResult& result)
{
    const int maxAge = int(freshFor(result).count());
    // The states with no domain object, as RDAP errors.
    struct Error
    {
        Outcome outcome;
        int status;
        const char* title;
        const char* description;
    };
    static constexpr Error kErrors[] = {
        {Outcome::NotRegistered, 404, "Not Found", "{domain} is not registered"},
        {Outcome::NotADomain, 400, "Bad Request", "not a domain name this service can look up"},
        {Outcome::RateLimited, 429, "Too Many Requests",
            "the registry limits queries; try again later"},
        {Outcome::Unavailable, 503, "Service Unavailable",
            "the registry did not answer; try again later"},
    };
    for (const Error& error : kErrors) {
        if (error.outcome != result.outcome)
            continue;
        return json(error.status,
            errorObject(error.status, QLatin1String(error.title),
                QString::fromLatin1(error.description).replace(QLatin1String("{domain}"), domain)),
            maxAge);
    }
    const DomainRecord& r = result.record;
    QJsonObject object {{QStringLiteral("rdapConformance"), kConformance},
        {QStringLiteral("objectClassName"), QStringLiteral("domain")},
        {QStringLiteral("ldhName"), domain}};
    if (const QString unicode = unicodeName(domain); !unicode.isEmpty())
        object[QStringLiteral("unicodeName")] = unicode;
    QJsonArray remarks;
    if (result.outcome == Outcome::Reserved) {
        object[QStringLiteral("status")] = QJsonArray {QStringLiteral("inactive")};
        remarks.append(titled(QStringLiteral("Reserved"),
            {QStringLiteral("The name is reserved or blocked by the registry.")}));
    } else {
        const QStringList status = rdapStatus(r.status);
        object[QStringLiteral("status")]
            = lines(status.isEmpty() ? QStringList {QStringLiteral("active")} : status);
        QJsonArray events;
        const std::pair<const char*, const RecordDate*> dated[] = {
            {"registration", &r.created}, {"expiration", &r.expires}, {"last changed", &r.changed}};
        for (const auto& [action, date] : dated) {
            if (date->isValid())
                events.append(QJsonObject {{QStringLiteral("eventAction"), QLatin1String(action)},
                    {QStringLiteral("eventDate"), rfc3339(*date)}});
        }
        object[QStringLiteral("events")] = events;
        QJsonArray entities;
        if (!r.registrar.isEmpty()) {
            QJsonObject registrar {{QStringLiteral("objectClassName"), QStringLiteral("entity")},
                {QStringLiteral("roles"), QJsonArray {QStringLiteral("registrar")}},
                {QStringLiteral("vcardArray"),
                    vcard({textProperty(QStringLiteral("fn"), shown(r.registrar))})}};
            if (!r.registrarId.isEmpty()) {
                registrar[QStringLiteral("handle")] = r.registrarId;
                registrar[QStringLiteral("publicIds")] = QJsonArray {
                    QJsonObject {{QStringLiteral("type"), QStringLiteral("IANA Registrar ID")},
                        {QStringLiteral("identifier"), r.registrarId}}};
            }
            entities.append(registrar);
        }
        if (r.registrantPublic()) {
            QList<QJsonArray> card {textProperty(QStringLiteral("fn"), shown(r.registrant))};
            if (!r.email.isEmpty())
                card << textProperty(QStringLiteral("email"), shown(r.email));
            entities.append(
                QJsonObject {{QStringLiteral("objectClassName"), QStringLiteral("entity")},
                    {QStringLiteral("roles"), QJsonArray {QStringLiteral("registrant")}},
                    {QStringLiteral("vcardArray"), vcard(card)}});
        } else if (!result.incomplete) {
            remarks.append(titled(QStringLiteral("Registrant not public"),
                {QStringLiteral("The registry or registrar does not publish the registrant.")}));
        }
        object[QStringLiteral("entities")] = entities;
        QJsonArray nameservers;
        for (const QString& server : r.nameServers)
            nameservers.append(
                QJsonObject {{QStringLiteral("objectClassName"), QStringLiteral("nameserver")},
                    {QStringLiteral("ldhName"), server}});
        object[QStringLiteral("nameservers")] = nameservers;
        if (result.incomplete)
            remarks.append(titled(QStringLiteral("Incomplete"),
                {QStringLiteral("The registrar could not be asked; its facts are missing.")}));
    }
    if (!result.from.isEmpty() && !result.from.first().startsWith(QLatin1String("http")))
        object[QStringLiteral("port43")] = result.from.first();
    if (!remarks.isEmpty())
        object[QStringLiteral("remarks")] = remarks;
    object[QStringLiteral("notices")] = QJsonArray {sourceNotice(result)};
    return json(200, object, maxAge);
}

Reply rdapHelpReply()
{
    const QJsonObject help {{QStringLiteral("rdapConformance"), kConformance},
        {QStringLiteral("notices"),
            QJsonArray {titled(QStringLiteral("About this service"),
                {QStringLiteral("Domain queries only: GET /rdap/domain/NAME, for a name under "
                                "any TLD."),
                    QStringLiteral("Facts come from the registry's RDAP server where it has one, "
                                   "otherwise from its whois server, translated; the Source "
                                   "notice of each answer says which."),
                    QStringLiteral("A name that is not registered is 404; what is no domain "
                                   "name, 400; a registry's limit, 429; no answer, 503. "
                                   "Retry-After and Cache-Control say when to ask again.")})}}};
    Reply reply = json(200, help, 3600);
    return reply;
}

Reply rdapErrorReply(int status, const QString& title, const QString& description)
{
    return json(status, errorObject(status, title, description), 0);
}
