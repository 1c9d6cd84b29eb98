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

// The text between the first StrStart and the first StrEnd after it. Never fails: a cut that
// cannot be made gives the empty string. A missing StrStart does not make the cut fail: the cut
// then starts at the position equal to StrStart's length, and page readers rely on that.
QString strCut(const QString& strContent, const QString& StrStart, const QString& StrEnd);
