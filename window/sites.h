#pragma once

#include <QString>

// The fixed addresses of the program, all on the maker's site that the build names
// (DOMAIN_WHOIS_SITE). Users cannot change them; tests hand Form1 loopback addresses instead.
struct Sites
{
    // Whois web service; the domain text is appended as typed.
    QString whoisBase = QStringLiteral(DOMAIN_WHOIS_SITE "/cgi-bin/whois?domain=");
    // The service's RDAP domain objects; the entry's text follows, percent-encoded as UTF-8.
    QString rdapBase = QStringLiteral(DOMAIN_WHOIS_SITE "/rdap/domain/");
    // Banner page, shown in the strip along the bottom.
    QString banner = QStringLiteral(DOMAIN_WHOIS_SITE "/ad/ad2.html");
    // The maker's home page, opened by the link label.
    QString home = QStringLiteral(DOMAIN_WHOIS_SITE);
};
