#include "page.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include "service/limits.h"
#include "whoispage/cut.h"

namespace {

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

} // namespace

QString displayValue(const QString& value)
{
    QStringEncoder encoder("GBK");
    QStringDecoder decoder("GBK");
    QString shown;
    for (const uint c : value.left(8 * limits::kLongestShownValue).simplified().toUcs4()) {
        if (shown.size() >= limits::kLongestShownValue) {
            shown += QStringLiteral("\u2026");
            break;
        }
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
    // Not known (the registrar did not answer) is not the same as withheld.
    const QString unknown = result.incomplete ? QString() : kConfidential;
    facts.truename = r.registrant.isEmpty() ? unknown : displayValue(r.registrant);
    facts.mail = r.email.isEmpty() ? unknown : displayValue(r.email);
    facts.bdate = dateForm(dateText(r.created).remove(u' '));
    facts.edate = dateForm(dateText(r.expires).remove(u' '));
    return facts;
}

std::chrono::seconds freshFor(const LookupResult& result)
{
    switch (result.outcome) {
    case Outcome::Registered:
        return result.incomplete ? limits::kFailureLife : limits::kRegisteredLife;
    case Outcome::NotRegistered:
    case Outcome::Reserved:
        return limits::kNotRegisteredLife;
    case Outcome::NotADomain:
        return limits::kNotADomainLife;
    case Outcome::RateLimited:
    case Outcome::Unavailable:
        break;
    }
    // A failure of the service's own making is not kept; caches downstream come back soon.
    return result.ownLimit ? limits::kOwnFailureLife : limits::kFailureLife;
}

Reply whoisPage(const QString& domain, const LookupResult& result)
{
    // How long the page stays fresh, for the service's own cache and for any in front of it.
    Reply reply;
    reply.contentType = "text/plain; charset=GBK";
    reply.status = result.outcome == Outcome::NotADomain                                   ? 400
        : result.outcome == Outcome::RateLimited || result.outcome == Outcome::Unavailable ? 503
                                                                                           : 200;
    reply.maxAgeSeconds = int(freshFor(result).count());

    const WhoisFacts facts = intendedFacts(result);
    PageValues values {domain, facts.cop, facts.truename, facts.mail,
        dateText(result.record.created), dateText(result.record.expires),
        result.asked.isEmpty() ? QString() : result.asked.last(), {}};
    for (const QString& server : result.record.nameServers)
        values.nameServers << displayValue(server);
    // The older layout is the one the program reads registrant and e-mail from; "Version 2.0"
    // withholds both, and is kept for records that show neither.
    reply.body = writeWhoisPage(values, facts,
        result.outcome == Outcome::Registered && !result.record.registrantPublic()
            && !result.incomplete);
    if (reply.body.isEmpty()) {
        LookupResult failed;
        failed.detail = QStringLiteral("page would not read back");
        return whoisPage(domain, failed);
    }
    return reply;
}
