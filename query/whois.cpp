#include "whois.h"

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
