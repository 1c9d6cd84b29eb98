#pragma once

#include <QString>

// What a whois page says about a domain, as the five value labels beside the domain show it.
struct WhoisFacts
{
    QString cop; // registrar
    QString truename; // registrant
    QString mail; // contact e-mail
    QString bdate; // registration date, in date form
    QString edate; // expiration date, in date form
};

// Shown for the registrant and e-mail of version 2.0 pages, which withhold both.
inline const QString kConfidential = QStringLiteral("已保密");

// A cut date and time run together by the blank stripping, split again: the first ten characters,
// a space, then the rest. An empty value becomes a single space.
QString dateForm(const QString& d);

// Reads a stripped whois page by the marker table of its version: pages whose version cut is
// exactly "2.0" withhold registrant and e-mail; every other page is read by the older layout.
WhoisFacts readWhoisPage(const QString& page);
