#pragma once

#include <QString>

class QByteArray;

// Decodes a whois page body from GBK, the code page the whois service writes in. Malformed bytes
// become U+FFFD.
QString decodeAnsi(const QByteArray& bytes);

// The character a lone 0xFF byte decodes to. It is blank padding on the service's pages, so it is
// removed together with the ASCII blanks; taking it from decodeAnsi keeps the two in agreement.
QChar ansiBlank();

// Deletes every space, carriage return, line feed, tab and ansiBlank() from text, in place, and
// returns the stripped text as well.
QString stripBlanks(QString& text);

// The text between the first start and the first end after it. Never fails: a cut that cannot be
// made gives the empty string. A missing start does not make the cut fail: the cut then starts at
// the position equal to start's length, and page readers rely on that.
QString strCut(const QString& content, const QString& start, const QString& end);
