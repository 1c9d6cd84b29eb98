// strCut on arbitrary content and markers (the input split at its first two zero bytes, as
// UTF-8), against a second, step-by-step cut with 1-based positions and Qt's own search.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QList>

#include "whoispage/cut.h"

namespace {

// InStr(start, text, what): 1-based, 0 for none; "invalid" for a start below 1.
qsizetype inStr(qsizetype start, const QString& text, const QString& what, bool& invalid)
{
    if (start < 1) {
        invalid = true;
        return 0;
    }
    if (start > text.size() || text.isEmpty())
        return 0;
    if (what.isEmpty())
        return start;
    return text.indexOf(what, start - 1) + 1;
}

QString referenceCut(const QString& content, const QString& start, const QString& end)
{
    bool invalid = false;
    const qsizetype s = inStr(1, content, start, invalid) + start.size();
    const qsizetype e = inStr(s, content, end, invalid);
    if (invalid || s < 1 || e - s < 0 || s > content.size())
        return {};
    return content.mid(s - 1, e - s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts
        = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    const QString content = QString::fromUtf8(parts.value(0));
    const QString start = QString::fromUtf8(parts.value(1));
    const QString end = QString::fromUtf8(parts.value(2));
    if (strCut(content, start, end) != referenceCut(content, start, end))
        std::abort();
    return 0;
}
