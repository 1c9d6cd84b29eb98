#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What a whois page says about a domain, as the five value labels beside the domain show it.
struct WhoisFacts
{
    QString cop; // registrar
    QString truename; // registrant
    QString mail; // contact e-mail
    QString bdate; // registration date, in date form
    QString edate; // expiration date, in date form
};

// The blank a page writer puts where a value has a space: the program's blank stripping keeps it.
inline const QString kIdeographicSpace = QStringLiteral("\u3000");

// Shown for the registrant and e-mail of version 2.0 pages, which withhold both.
inline const QString kConfidential = QStringLiteral("已保密");

// A cut date and time run together by the blank stripping, split again: the first ten characters,
// a space, then the rest. An empty value becomes a single space.
QString dateForm(const QString& d);

// Reads a stripped whois page by the marker table of its version: pages whose version cut is
// exactly "2.0" withhold registrant and e-mail; every other page is read by the older layout.
WhoisFacts readWhoisPage(const QString& page);

// What a page written for the program says, every value already as the window can show it.
struct PageValues
{
    QString domain; // its ASCII form; empty when the typed text was none
    QString registrar, registrant, email;
    QString created, expires; // "yyyy-MM-dd HH:mm:ss", or empty
    QString server; // where the facts come from; empty when no registry was asked
    QStringList nameServers;
};

// The page for values, GBK-encoded, that reads back as facts: the "Version 2.0" layout when
// versionTwo (it withholds registrant and e-mail) and it reads back so, else the older layout;
// a value holding one of the markers has the marker defused, and the page then reads back so.
// Empty when no page reads back as intended.
QByteArray writeWhoisPage(const PageValues& values, const WhoisFacts& facts, bool versionTwo);
