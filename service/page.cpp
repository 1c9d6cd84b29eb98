#include "page.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include "query/cut.h"

namespace {

const QString kIdeographicSpace = QStringLiteral("\u3000");

// The window's message for each state but Registered, shown where the registrant would be.
QString stateMessage(Outcome outcome)
{
    switch (outcome) {
    case Outcome::NotRegistered:
        return QStringLiteral("该域名尚未注册");
    case Outcome::Reserved:
        return QStringLiteral("该域名已被注册局保留");
    case Outcome::NotADomain:
        return QStringLiteral("这不是可以查询的域名");
    case Outcome::RateLimited:
        return QStringLiteral("注册局限制了查询次数，请稍后再试");
    case Outcome::Unavailable:
        return QStringLiteral("注册局暂时没有应答，请稍后再试");
    case Outcome::Registered:
        break;
    }
    return {};
}

// China Standard Time (UTC+8), the readers' zone, when the date's zone is known; as written when
// it is not, for a time converted from a guessed zone would be wrong by hours.
QString dateText(const RecordDate& date)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    if (!date.isValid())
        return {};
    return date.zoned ? date.at.toOffsetFromUtc(8 * 3600).toString(format)
                      : date.at.toString(format);
}

struct Values
{
    QString registrar, registrant, email, created, expires, server;
    QStringList nameServers;
};

// The markers the program cuts by, all of which a value must not hold.
const QStringList kMarkers = {"Version", "Domain", "Registrar:", "Whois",
    "CreationDate:", "Expiration", "ExpirationDate:", ">>>", "RegistrantName:", "Administrative",
    "AdministrativeEmail:", "Sponsoring",
    "SponsoringRegistrar:", "NameServer:", "RegistrationDate:", "友情提示"};

// The marker's first character in a value made full-width (or followed by an ideographic space),
// so that the marker no longer matches while the value reads the same.
QString defused(QString value)
{
    for (const QString& marker : kMarkers) {
        for (qsizetype at; (at = value.indexOf(marker)) >= 0;) {
            const QChar c = value[at];
            if (c.unicode() > 0x20 && c.unicode() < 0x7f)
                value[at] = QChar(c.unicode() - 0x21 + 0xFF01);
            else
                value.insert(at + 1, kIdeographicSpace);
        }
    }
    return value;
}

QString versionTwoText(const QString& domain, const Values& v)
{
    QString text
        = QStringLiteral("Whois Server Version 2.0\r\n\r\nDomain Name: %1\r\nRegistrar: %2\r\n"
                         "Whois Server: %3\r\n")
              .arg(domain, v.registrar, v.server);
    for (const QString& server : v.nameServers)
        text += QStringLiteral("Name Server: %1\r\n").arg(server);
    text
        += QStringLiteral("Creation Date: %1\r\nExpiration Date: %2\r\n\r\n"
                          ">>> Last update of whois database: %3 UTC <<<\r\n\r\n"
                          "注册人和邮箱不公开。日期为协调世界时（UTC）。\r\n")
               .arg(v.created, v.expires,
                   QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return text;
}

QString otherText(const QString& domain, const Values& v)
{
    QString text
        = QStringLiteral("Domain Name: %1\r\nRegistrant Name: %2\r\nAdministrative Email: %3\r\n"
                         "Sponsoring Registrar: %4\r\n")
              .arg(domain, v.registrant, v.email, v.registrar);
    for (const QString& server : v.nameServers.isEmpty() ? QStringList {QString()} : v.nameServers)
        text += QStringLiteral("Name Server: %1\r\n").arg(server);
    text += QStringLiteral("Registration Date: %1\r\nExpiration Date: %2\r\n\r\n友情提示：")
                .arg(v.created, v.expires);
    text += v.server.isEmpty()
        ? QStringLiteral("本服务按注册局的回答显示查询结果。\r\n")
        : QStringLiteral("以上信息来自 %1，日期为协调世界时（UTC）。\r\n").arg(v.server);
    return text;
}

QByteArray toGbk(const QString& text)
{
    QStringEncoder gbk("GBK");
    return gbk.encode(text);
}

bool readsBack(const QByteArray& page, const WhoisFacts& facts)
{
    QString text = decodeAnsi(page);
    const WhoisFacts read = readWhoisPage(StripBlanks(text));
    return read.cop == facts.cop && read.truename == facts.truename && read.mail == facts.mail
        && read.bdate == facts.bdate && read.edate == facts.edate;
}

} // namespace

QString displayValue(const QString& value)
{
    QStringEncoder encoder("GBK");
    QStringDecoder decoder("GBK");
    QString shown;
    for (const uint c : value.simplified().toUcs4()) {
        const QString one = QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
        if (c == ' ') {
            shown += kIdeographicSpace;
        } else if (!QChar::isPrint(c)) {
            continue;
        } else {
            // Round-trips through GBK, and is no byte the program strips as a blank.
            const QByteArray bytes = encoder.encode(one);
            const bool kept = decoder.decode(bytes) == one && one != QString(ansiBlank());
            shown += kept ? one : QStringLiteral("?");
        }
    }
    return shown;
}

WhoisFacts intendedFacts(const LookupResult& result)
{
    WhoisFacts facts;
    const DomainRecord& r = result.record;
    if (result.outcome != Outcome::Registered) {
        facts.truename = stateMessage(result.outcome);
        facts.bdate = dateForm({});
        facts.edate = dateForm({});
        return facts;
    }
    facts.cop = displayValue(r.registrar);
    facts.truename = r.registrant.isEmpty() ? kConfidential : displayValue(r.registrant);
    facts.mail = r.email.isEmpty() ? kConfidential : displayValue(r.email);
    facts.bdate = dateForm(dateText(r.created).remove(u' '));
    facts.edate = dateForm(dateText(r.expires).remove(u' '));
    return facts;
}

Reply whoisPage(const QString& domain, const LookupResult& result)
{
    // How long the page stays fresh, for the service's own cache and for any in front of it.
    Reply reply;
    reply.contentType = "text/plain; charset=GBK";
    switch (result.outcome) {
    case Outcome::Registered:
        reply.maxAgeSeconds = 15 * 60;
        break;
    case Outcome::NotRegistered:
    case Outcome::Reserved:
        reply.maxAgeSeconds = 5 * 60;
        break;
    case Outcome::NotADomain:
        reply.status = 400;
        reply.maxAgeSeconds = 60 * 60;
        break;
    case Outcome::RateLimited:
    case Outcome::Unavailable:
        reply.status = 503;
        reply.maxAgeSeconds = 30;
        break;
    }

    const WhoisFacts facts = intendedFacts(result);
    Values values {facts.cop, facts.truename, facts.mail, dateText(result.record.created),
        dateText(result.record.expires), result.asked.isEmpty() ? QString() : result.asked.last(),
        {}};
    for (const QString& server : result.record.nameServers)
        values.nameServers << displayValue(server);
    // The older layout is the one the program reads registrant and e-mail from; "Version 2.0"
    // withholds both, and is kept for records that show neither.
    QList<QByteArray> tries;
    if (result.outcome == Outcome::Registered && !result.record.registrantPublic())
        tries << toGbk(versionTwoText(domain, values));
    tries << toGbk(otherText(domain, values));
    for (const QByteArray& page : tries) {
        if (readsBack(page, facts)) {
            reply.body = page;
            return reply;
        }
    }
    // A value holding a marker: the marker is defused, and the page reads back as intended.
    Values safe = values;
    WhoisFacts safeFacts = facts;
    for (auto [value, fact] : {std::pair {&safe.registrar, &safeFacts.cop},
             {&safe.registrant, &safeFacts.truename}, {&safe.email, &safeFacts.mail}}) {
        *value = defused(*value);
        *fact = *value;
    }
    reply.body = toGbk(otherText(domain, safe));
    if (!readsBack(reply.body, safeFacts)) {
        LookupResult failed;
        failed.detail = QStringLiteral("page would not read back");
        return whoisPage(domain, failed);
    }
    return reply;
}
