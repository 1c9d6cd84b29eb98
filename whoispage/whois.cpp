#include "whois.h"

#include <QDateTime>
#include <QList>
#include <QStringEncoder>

#include "cut.h"

QString dateForm(const QString& d)
{
    return d.left(10) + u' ' + d.mid(10);
}

WhoisFacts readWhoisPage(const QString& page)
{
    const auto cut = [&page](const char16_t* start, const char16_t* end) {
        return strCut(page, QString::fromUtf16(start), QString::fromUtf16(end));
    };
    WhoisFacts facts;
    if (cut(u"Version", u"Domain") == u"2.0") {
        facts.cop = cut(u"Registrar:", u"Whois");
        facts.truename = kConfidential;
        facts.mail = kConfidential;
        facts.bdate = dateForm(cut(u"CreationDate:", u"Expiration"));
        facts.edate = dateForm(cut(u"ExpirationDate:", u">>>"));
    } else {
        facts.truename = cut(u"RegistrantName:", u"Administrative");
        facts.mail = cut(u"AdministrativeEmail:", u"Sponsoring");
        facts.cop = cut(u"SponsoringRegistrar:", u"NameServer:");
        facts.bdate = dateForm(cut(u"RegistrationDate:", u"Expiration"));
        facts.edate = dateForm(cut(u"ExpirationDate:", u"友情提示"));
    }
    return facts;
}

// --- writing ----------------------------------------------------------------------------------

namespace {

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

QString versionTwoText(const PageValues& v)
{
    QString text
        = QStringLiteral("Whois Server Version 2.0\r\n\r\nDomain Name: %1\r\nRegistrar: %2\r\n"
                         "Whois Server: %3\r\n")
              .arg(v.domain, v.registrar, v.server);
    for (const QString& server : v.nameServers)
        text += QStringLiteral("Name Server: %1\r\n").arg(server);
    text
        += QStringLiteral(
            "Creation Date: %1\r\nExpiration Date: %2\r\n\r\n"
            ">>> Last update of whois database: %3 UTC <<<\r\n\r\n"
            "注册人和邮箱不公开。日期为北京时间（UTC+8），注册局未注明时区的按原样。\r\n")
               .arg(v.created, v.expires,
                   QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return text;
}

QString otherText(const PageValues& v)
{
    QString text
        = QStringLiteral("Domain Name: %1\r\nRegistrant Name: %2\r\nAdministrative Email: %3\r\n"
                         "Sponsoring Registrar: %4\r\n")
              .arg(v.domain, v.registrant, v.email, v.registrar);
    for (const QString& server : v.nameServers.isEmpty() ? QStringList {QString()} : v.nameServers)
        text += QStringLiteral("Name Server: %1\r\n").arg(server);
    text += QStringLiteral("Registration Date: %1\r\nExpiration Date: %2\r\n\r\n友情提示：")
                .arg(v.created, v.expires);
    text += v.server.isEmpty()
        ? QStringLiteral("本服务按注册局的回答显示查询结果。\r\n")
        : QStringLiteral("以上信息来自 %1，日期为北京时间（UTC+8），注册局未注明时区的按原样。\r\n")
              .arg(v.server);
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
    const WhoisFacts read = readWhoisPage(stripBlanks(text));
    return read.cop == facts.cop && read.truename == facts.truename && read.mail == facts.mail
        && read.bdate == facts.bdate && read.edate == facts.edate;
}

} // namespace

QByteArray writeWhoisPage(const PageValues& values, const WhoisFacts& facts, bool versionTwo)
{
    QList<QByteArray> tries;
    if (versionTwo)
        tries << toGbk(versionTwoText(values));
    tries << toGbk(otherText(values));
    for (const QByteArray& page : tries) {
        if (readsBack(page, facts))
            return page;
    }
    // A value holding a marker: the marker is defused, and the page reads back as intended.
    PageValues safe = values;
    WhoisFacts safeFacts = facts;
    for (auto [value, fact] : {std::pair {&safe.registrar, &safeFacts.cop},
             {&safe.registrant, &safeFacts.truename}, {&safe.email, &safeFacts.mail}}) {
        *value = defused(*value);
        *fact = *value;
    }
    const QByteArray page = toGbk(otherText(safe));
    return readsBack(page, safeFacts) ? page : QByteArray();
}
