#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "service/reading/dates.h"
#include "service/reading/record.h"

// What differs between registries beyond the common vocabulary of whois answers, which every
// answer is read by: one row a registry, found by its server (or, for the zone of its times, by
// the TLDs it serves).
struct WhoisFormat
{
    const char* name;
    QStringList servers; // whois hosts that answer in it
    QStringList tlds; // and the TLDs they serve, for a server known by another name
    std::optional<int> utcOffsetMinutes; // of times written without a zone, where documented
    bool monthBeforeDay = false; // writes nn/nn/yyyy month first
    const char* query = "%1"; // what is sent; %1: the domain
    const char* charset = nullptr; // of answers that are not UTF-8
};

// The format of a registry's answers, by its server or else its TLD; the generic one (the first)
// for every other registry and for registrars.
const WhoisFormat& formatFor(const QString& server, const QString& tld);
// Every format, for tests and the home page.
const std::vector<WhoisFormat>& whoisFormats();

// What is sent to a whois server for a domain ("domain example.com" for some).
QByteArray whoisQueryFor(const QString& server, const QString& domain);
// An answer's text: UTF-8 when valid, otherwise the server's own charset, otherwise the charset
// the answer looks to be in.
QString decodeWhoisAnswer(const QString& server, const QByteArray& bytes);

struct WhoisReading
{
    // Registered, NotRegistered, Reserved, RateLimited or Unavailable
    Outcome outcome = Outcome::Unavailable;
    DomainRecord record;
    // A field the page needs that the answer lacks (not merely redacted).
    bool lacksRegistrant = false;
    QString referral; // the registrar's whois server, if the answer names one
};

// Reads a whois answer for domain (empty: whichever domain it describes). Linear in its size.
WhoisReading readWhoisAnswer(
    const QString& text, const WhoisFormat& format, const QString& domain = {});
// A registry's or registrar's answer for domain as its server sent it.
WhoisReading readAnswerFrom(const QString& server, const QString& domain, const QByteArray& bytes);

// Whether a registrant value stands for "not public" ("REDACTED FOR PRIVACY" and the like).
bool isWithheld(const QString& value);
// An e-mail address, and nothing else ("Select Request Email Form at …" is not one).
bool isEmailAddress(const QString& value);
