#include "cut.h"

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

QString stripBlanks(QString& text)
{
    const QChar fifth = ansiBlank();
    // Deleting a blank never creates another one, so one pass does what five would.
    text.removeIf([fifth](QChar c) {
        return c == u' ' || c == u'\r' || c == u'\n' || c == u'\t' || c == fifth;
    });
    return text;
}

QString strCut(const QString& content, const QString& start, const QString& end)
{
    // s and e count from 1, so that a missing start marker (found at 0) puts s at its length.
    const qsizetype found = content.isEmpty() ? -1 : content.indexOf(start);
    const qsizetype s = found + 1 + start.size();
    if (s < 1 || s > content.size() || end.isEmpty())
        return {};
    const qsizetype e = content.indexOf(end, s - 1) + 1;
    if (e < s)
        return {};
    return content.mid(s - 1, e - s);
}
