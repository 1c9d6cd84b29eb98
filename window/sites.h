#pragma once

#include <QString>

// The three fixed addresses of the program. Users cannot change them; tests hand Form1 loopback
// addresses instead.
struct Sites
{
    // Whois web service; the domain text is appended as typed.
    QString whoisBase = QStringLiteral("http://whois.example.com/cgi-bin/whois?domain=");
    // Banner page of the maker's site, shown in the strip along the bottom.
    QString banner = QStringLiteral("http://www.example.com/ad/ad2.html");
    // The maker's home page, opened by the link label.
    QString home = QStringLiteral("http://www.example.com");
};
