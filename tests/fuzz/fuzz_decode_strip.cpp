// Any bytes, decoded and stripped: the fast paths must agree with the plain GBK decoder and with
// five replace-alls.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QStringDecoder>

#include "query/cut.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString text = decodeAnsi(bytes);
    QStringDecoder plain("GBK", QStringConverter::Flag::Stateless);
    if (text != plain.decode(bytes))
        std::abort();

    QString expected = text;
    for (QChar blank : {QChar(u' '), QChar(u'\r'), QChar(u'\n'), QChar(u'\t'), ansiBlank()})
        expected.remove(blank);
    if (StripBlanks(text) != expected || text != expected)
        std::abort();
    return 0;
}
