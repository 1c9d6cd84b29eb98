#include "cut.h"

#include <algorithm>
#include <stdexcept>

#include <QByteArray>
#include <QStringDecoder>

QString decodeAnsi(const QByteArray& bytes)
{
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        throw std::runtime_error("系统缺少 GBK 解码器，无法读取查询结果。");
    return decoder.decode(bytes);
}

QChar ansiBlank()
{
    static const QChar blank = [] {
        const QString decoded = decodeAnsi(QByteArray(1, '\xff'));
        return decoded.size() == 1 ? decoded.front() : QChar(0xF8F5);
    }();
    return blank;
}

QString StripBlanks(QString& text)
{
    const QChar fifth = ansiBlank();
    const auto isBlank = [fifth](QChar c) {
        return c == u' ' || c == u'\r' || c == u'\n' || c == u'\t' || c == fifth;
    };
    // One pass instead of five replace-alls: deleting a blank never creates another one, so the
    // order of deletion does not matter. Untouched text is not detached.
    const qsizetype first = std::find_if(text.cbegin(), text.cend(), isBlank) - text.cbegin();
    if (first < text.size()) {
        QChar* const begin = text.data(); // detaches: offsets only from here on
        QChar* const end = std::remove_if(begin + first, begin + text.size(), isBlank);
        text.truncate(end - begin);
    }
    return text;
}

QString strCut(const QString& strContent, const QString& StrStart, const QString& StrEnd)
{
    // Positions below are counted from 1, as the cut rule is stated.
    const qsizetype found = strContent.indexOf(StrStart);
    const qsizetype startFound = (strContent.isEmpty() || found < 0) ? 0 : found + 1;
    const qsizetype s = startFound + StrStart.size();
    if (s < 1 || s > strContent.size() || StrEnd.isEmpty())
        return {};
    const qsizetype e = strContent.indexOf(StrEnd, s - 1);
    if (e < 0)
        return {};
    return strContent.mid(s - 1, e + 1 - s);
}
