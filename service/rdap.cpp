#include "rdap.h"

#include <cstdio>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QUrl>

#include "service/domainname.h"
#include "service/whoistext.h"

using namespace std::chrono;

namespace {

constexpr qint64 kBootstrapLifeSeconds = 24 * 3600;
constexpr qint64 kRetryAfterFailureSeconds = 600;
constexpr auto kBootstrapFetchTime = seconds(20);
constexpr seconds kHoldOffWithoutRetryAfter {60};
const char* const kRdapJson = "application/rdap+json, application/json;q=0.9";

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

RdapBootstrap::RdapBootstrap(
    QString url, QString cacheDir, bool allowLoopback, std::function<QDateTime()> now)
    : m_url(std::move(url))
    , m_file(cacheDir.isEmpty() ? QString() : QDir(cacheDir).filePath(QStringLiteral("dns.json")))
    , m_allowLoopback(allowLoopback)
    , m_now(std::move(now))
{
    QFile kept(m_file);
    if (!m_file.isEmpty() && kept.open(QIODevice::ReadOnly) && load(kept.readAll()))
        m_fetched = QFileInfo(kept).lastModified().toUTC();
}

RdapBootstrap::~RdapBootstrap()
{
    if (m_refresher.joinable())
        m_refresher.join();
}

bool RdapBootstrap::load(const QByteArray& json)
{
    QHash<QString, QStringList> servers;
    const QJsonArray services
        = QJsonDocument::fromJson(json).object().value(QLatin1String("services")).toArray();
    for (const QJsonValue& service : services) {
        QStringList urls;
        for (const QJsonValue& url : service.toArray().at(1).toArray()) {
            const QString address = url.toString();
            if (address.startsWith(QLatin1String("https://")))
                urls.prepend(address);
            else if (address.startsWith(QLatin1String("http://")))
                urls.append(address);
        }
        for (const QJsonValue& tld : service.toArray().at(0).toArray())
            if (!urls.isEmpty())
                servers.insert(tld.toString().toLower(), urls);
    }
    if (servers.isEmpty())
        return false;
    const std::lock_guard lock(m_mutex);
    m_servers = std::move(servers);
    return true;
}

bool RdapBootstrap::refresh()
{
    {
        const std::lock_guard lock(m_mutex);
        m_lastTry = m_now();
    }
    // The operator's address: always reached, over http too.
    const HttpFetch fetch = httpGet(m_url, Deadline::in(kBootstrapFetchTime),
        {m_allowLoopback, true, true}, "application/json");
    if (fetch.status == 200 && load(fetch.body)) {
        if (!m_file.isEmpty() && QDir().mkpath(QFileInfo(m_file).absolutePath())) {
            QSaveFile kept(m_file);
            if (kept.open(QIODevice::WriteOnly) && kept.write(fetch.body) == fetch.body.size())
                kept.commit();
        }
        const std::lock_guard lock(m_mutex);
        m_fetched = m_now();
        return true;
    }
    std::fprintf(stderr, "domain-whois-service: RDAP bootstrap %s not had (%s); %s\n",
        qPrintable(m_url),
        qPrintable(
            fetch.error.isEmpty() ? QStringLiteral("HTTP %1").arg(fetch.status) : fetch.error),
        m_fetched.isValid() ? "the kept copy serves" : "port 43 serves alone");
    const std::lock_guard lock(m_mutex);
    return !m_servers.isEmpty();
}

QStringList RdapBootstrap::serversFor(const QString& tld)
{
    const std::lock_guard lock(m_mutex);
    const QDateTime now = m_now();
    const bool old = !m_fetched.isValid() || m_fetched.secsTo(now) >= kBootstrapLifeSeconds;
    const bool tried = m_lastTry.isValid() && m_lastTry.secsTo(now) < kRetryAfterFailureSeconds;
    if (!m_url.isEmpty() && old && !tried) {
        m_lastTry = now;
        if (m_refresher.joinable())
            m_refresher.join(); // long done: a refresh is tried at most every ten minutes
        m_refresher = std::thread([this] { refresh(); });
    }
    return m_servers.value(tld.toLower());
}

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
        // RFC 3339 states the zone; a date without one is shown as written.
        const RecordDate date
            = parseWhoisDate(event.toObject().value(QLatin1String("eventDate")).toString());
        if (action == QLatin1String("registration"))
            record.created = date;
        else if (action == QLatin1String("expiration"))
            record.expires = date;
    }
    // RFC 9537: what the server says it has redacted is not public, whatever stands in its place.
    QStringList redacted;
    for (const QJsonValue& entry : domain.value(QLatin1String("redacted")).toArray())
        redacted << entry.toObject()
                        .value(QLatin1String("name"))
                        .toObject()
                        .value(QLatin1String("type"))
                        .toString()
                        .toLower();
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
    for (const QJsonValue& server : domain.value(QLatin1String("nameservers")).toArray()) {
        const QString name = server.toObject().value(QLatin1String("ldhName")).toString().toLower();
        if (!name.isEmpty())
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

RdapClient::RdapClient(RdapBootstrap& bootstrap, bool allowLoopback)
    : m_bootstrap(bootstrap), m_allowLoopback(allowLoopback)
{ }

HttpFetch RdapClient::ask(
    const QString& url, Deadline deadline, Politeness& politeness, LookupResult& result)
{
    const QString host = QUrl(url).host();
    switch (politeness.enter(host, deadline)) {
    case Politeness::Verdict::Limited:
        return {429, {}, {}, host + QStringLiteral(": our own limit")};
    case Politeness::Verdict::Late:
        return {0, {}, {}, host + QStringLiteral(": no time left for a query")};
    case Politeness::Verdict::Go:
        break;
    }
    result.asked << url;
    HttpFetch fetch = httpGet(url, deadline, {m_allowLoopback, m_allowLoopback, false}, kRdapJson);
    politeness.leave(host);
    if (fetch.status == 429 || (fetch.status == 503 && fetch.retryAfter.count() > 0))
        politeness.holdOff(
            host, fetch.retryAfter.count() > 0 ? fetch.retryAfter : kHoldOffWithoutRetryAfter);
    return fetch;
}

std::optional<LookupResult> RdapClient::lookUp(
    const QString& domain, Deadline deadline, Politeness& politeness)
{
    LookupResult result;
    QString base = m_bootstrap.serversFor(topLevel(domain)).value(0);
    if (base.isEmpty())
        return std::nullopt;
    if (!base.endsWith(u'/'))
        base += u'/';
    const HttpFetch fetch
        = ask(base + QStringLiteral("domain/") + domain, deadline, politeness, result);
    if (fetch.status == 429) {
        result.outcome = Outcome::RateLimited;
        result.detail
            = fetch.error.isEmpty() ? QStringLiteral("RDAP: too many requests") : fetch.error;
        return result;
    }
    if (fetch.status == 404) {
        result.outcome = Outcome::NotRegistered;
        return result;
    }
    const RdapReading reading = fetch.status == 200 ? readRdapDomain(fetch.body) : RdapReading {};
    if (!reading.valid) {
        result.detail = QStringLiteral("RDAP: ")
            + (!fetch.error.isEmpty()     ? fetch.error
                    : fetch.status != 200 ? QStringLiteral("HTTP %1").arg(fetch.status)
                                          : QStringLiteral("not a domain object"));
        return result;
    }
    result.outcome = Outcome::Registered;
    result.record = reading.record;
    // A thin registry's answer links to the registrar's, which knows the registrant.
    const QUrl related(reading.related);
    if (reading.lacksRegistrant && related.isValid() && !related.host().isEmpty()
        && (related.scheme() == QLatin1String("https")
            || related.scheme() == QLatin1String("http"))) {
        const HttpFetch more = ask(related.toString(), deadline, politeness, result);
        const RdapReading registrar
            = more.status == 200 ? readRdapDomain(more.body) : RdapReading {};
        if (registrar.valid)
            result.record.fillFrom(registrar.record);
    }
    return result;
}
