#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "service/record.h"

// The field names one registry format uses, and the zone of its dates when they name none.
struct WhoisFormat
{
    const char* name;
    QStringList tlds; // empty: every TLD no other row names, and every registrar
    QStringList registrar, created, expires, registrantName, registrantOrg, email, nameServer,
        referral;
    int utcOffsetMinutes = 0;
};

// The format of a TLD's registry; registrars' answers all use the first (ICANN's) format.
const WhoisFormat& formatForTld(const QString& tld);
const WhoisFormat& registrarFormat();
// Every format, for tests and the home page.
const std::vector<WhoisFormat>& whoisFormats();

// What is sent to a whois server for a domain ("domain example.com" for some).
QByteArray whoisQueryFor(const QString& server, const QString& domain);
// An answer's text: UTF-8 when valid, otherwise the server's own charset, otherwise the charset
// the answer looks to be in.
QString decodeWhoisAnswer(const QString& server, const QByteArray& bytes);

struct WhoisReading
{
    Outcome outcome = Outcome::Unavailable; // Registered, NotRegistered, RateLimited or Unavailable
    DomainRecord record;
    // A field the page needs that the answer lacks (not merely redacted).
    bool lacksRegistrant = false;
    QString referral; // the registrar's whois server, if the answer names one
};

// Reads a whois answer by its format's field names.
WhoisReading readWhoisAnswer(const QString& text, const WhoisFormat& format);

// A date as a registry writes it, in UTC; invalid when it is none.
QDateTime parseWhoisDate(const QString& text, int utcOffsetMinutes);
// Whether a registrant value stands for "not public" ("REDACTED FOR PRIVACY" and the like).
bool isWithheld(const QString& value);
// An e-mail address, and nothing else ("Select Request Email Form at …" is not one).
bool isEmailAddress(const QString& value);
