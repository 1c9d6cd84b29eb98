#pragma once

#include <chrono>

#include <QByteArray>
#include <QString>

#include "whoispage/whois.h"
#include "service/reading/record.h"
#include "service/http/reply.h"

// How long a look-up's answer stays fresh, here and in any cache downstream.
std::chrono::seconds freshFor(const LookupResult& result);

// What the window must show for a look-up (the five labels beside the domain).
WhoisFacts intendedFacts(const LookupResult& result);

// The whois page for a look-up of domain (its ASCII form; empty when the text was none), in one
// of the two layouts the program reads, GBK-encoded. Every page is read back as the program
// reads it; one that would read back otherwise than intendedFacts() is never sent.
Reply whoisPage(const QString& domain, const LookupResult& result);

// A value as the window can show it: GBK-encodable ("?" for what is not), on one line, its
// ASCII blanks turned into ideographic spaces, which the program's blank stripping keeps; at
// most a few hundred characters, cut with an ellipsis.
QString displayValue(const QString& value);
