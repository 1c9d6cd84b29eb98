#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// The text a user typed, as it arrived in the query (percent-decoding done): UTF-8 when it is
// valid UTF-8, GBK otherwise.
QString decodeTyped(const QByteArray& octets);

// What is looked up for typed text: blanks trimmed, lower-cased, the host taken out of a pasted
// address, an internationalised name in its ASCII form (UTS #46), reduced to the registrable
// domain by the public suffix list ("www.example.com.cn" -> "example.com.cn"). A name that is
// itself a public suffix under a TLD ("gov.uk", "wa.us") is looked up as it is: its registry may
// hold it. None when the text is no domain name: empty, too long, malformed, a TLD alone, or under
// a TLD the public suffix list does not know.
std::optional<QString> registrableDomain(const QString& typed);

// Whether an ASCII domain name is itself a public suffix ("co.uk"): one its registry does not
// know either is no domain.
bool isPublicSuffix(const QString& domain);

// The Unicode form of an ASCII domain name ("xn--fiq228c.cn" -> "中文.cn"); empty when it has no
// internationalised label, or none that decodes.
QString unicodeName(const QString& ascii);

// The top-level label of an ASCII domain name.
QString topLevel(const QString& domain);
