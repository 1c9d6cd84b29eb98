#include "cut.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include <QByteArray>
#include <QStringDecoder>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace {

// Pages are read in blocks of 16 bytes; a block without a byte above 0x7F is all ASCII.
constexpr qsizetype kBlock = 16;
// The decoder is handed everything up to the next stretch of this many all-ASCII blocks.
constexpr int kAsciiBlocksToSkip = 2;

bool isAsciiBlock(const char* p)
{
    quint64 words[2];
    std::memcpy(words, p, sizeof words);
    return ((words[0] | words[1]) & 0x8080808080808080ull) == 0;
}

// Copies ASCII bytes as they are, as GBK keeps them, until a byte above 0x7F or the end.
void widenAscii(const char*& p, const char* end, QChar*& out)
{
    while (end - p >= kBlock && isAsciiBlock(p)) {
#if defined(__SSE2__)
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
#else
        for (int i = 0; i < kBlock; ++i)
            out[i] = QChar(static_cast<unsigned char>(p[i]));
#endif
        p += kBlock;
        out += kBlock;
    }
    while (p < end && static_cast<unsigned char>(*p) < 0x80)
        *out++ = QChar(static_cast<unsigned char>(*p++));
}

// Where the next stretch of kAsciiBlocksToSkip all-ASCII blocks after p begins; end if none.
const char* nextAsciiStretch(const char* p, const char* end)
{
    int blocks = 0;
    for (const char* q = p; end - q >= kBlock; q += kBlock) {
        if (!isAsciiBlock(q))
            blocks = 0;
        else if (++blocks == kAsciiBlocksToSkip)
            return q - (kAsciiBlocksToSkip - 1) * kBlock;
    }
    return end;
}

// The first occurrence of needle in text at or after from, -1 when there is none. Candidates
// are found by their first and last characters, eight positions at a time where SSE2 offers
// it: the markers are sought through whole pages, mostly in vain.
qsizetype findFrom(QStringView text, QStringView needle, qsizetype from)
{
    const qsizetype n = needle.size();
    const qsizetype lastStart = text.size() - n;
    if (n == 0 || from < 0 || from > lastStart)
        return -1;
    const char16_t* t = text.utf16();
    const char16_t* const w = needle.utf16();
    const size_t middleBytes = size_t(std::max<qsizetype>(n - 2, 0)) * sizeof(char16_t);
    const auto matchesAt = [&](qsizetype at) {
        return t[at] == w[0] && t[at + n - 1] == w[n - 1]
            && std::memcmp(t + at + 1, w + 1, middleBytes) == 0;
    };
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi16(short(w[0]));
    const __m128i last = _mm_set1_epi16(short(w[n - 1]));
    for (; i + 7 <= lastStart; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + n - 1));
        unsigned mask = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, first), _mm_cmpeq_epi16(b, last))));
        while (mask) {
            const int bit = __builtin_ctz(mask); // two mask bits per character
            if (matchesAt(i + bit / 2))
                return i + bit / 2;
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i <= lastStart; ++i) {
        if (matchesAt(i))
            return i;
    }
    return -1;
}

} // namespace

QString decodeAnsi(const QByteArray& bytes)
{
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        throw std::runtime_error("系统缺少 GBK 解码器，无法读取查询结果。");
    // GBK yields at most one code unit per byte and keeps ASCII as it is. Long ASCII stretches,
    // most of a page, are widened directly; the decoder gets the rest. A stretch is handed over
    // only from its second byte on, as its first may be the trail byte of a double-byte character.
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    for (;;) {
        widenAscii(p, end, out);
        if (p == end)
            break;
        const char* stretch = nextAsciiStretch(p, end);
        const char* decodeEnd = stretch == end ? end : stretch + 1;
        out = decoder.appendToBuffer(out, QByteArrayView(p, decodeEnd - p));
        p = decodeEnd;
    }
    text.truncate(out - text.constData());
    return text;
}

QChar ansiBlank()
{
    static const QChar blank = [] {
        const QString decoded = decodeAnsi(QByteArray(1, '\xff'));
        return decoded.size() == 1 ? decoded.front() : QChar(0xF8F5);
    }();
    return blank;
}

#if defined(__SSE2__)
// Deletes the blanks of data[0, size) eight characters at a time, each block's kept characters
// shuffled together by a table indexed with its blank mask. Returns the new size.
__attribute__((target("ssse3"))) static qsizetype stripBlocks(
    char16_t* data, qsizetype size, char16_t fifth)
{
    struct Shuffle
    {
        __m128i order;
        int kept;
    };
    static const auto shuffles = [] {
        std::array<Shuffle, 256> table;
        for (int mask = 0; mask < 256; ++mask) {
            alignas(16) signed char bytes[16];
            int kept = 0;
            for (int lane = 0; lane < 8; ++lane) {
                if (!(mask & (1 << lane))) {
                    bytes[2 * kept] = char(2 * lane);
                    bytes[2 * kept + 1] = char(2 * lane + 1);
                    ++kept;
                }
            }
            for (int b = 2 * kept; b < 16; ++b)
                bytes[b] = -1;
            table[size_t(mask)] = {_mm_load_si128(reinterpret_cast<const __m128i*>(bytes)), kept};
        }
        return table;
    }();
    const __m128i blanks[] = {_mm_set1_epi16(' '), _mm_set1_epi16('\r'), _mm_set1_epi16('\n'),
        _mm_set1_epi16('\t'), _mm_set1_epi16(short(fifth))};
    char16_t* out = data;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        __m128i blank = _mm_cmpeq_epi16(chars, blanks[0]);
        for (int b = 1; b < 5; ++b)
            blank = _mm_or_si128(blank, _mm_cmpeq_epi16(chars, blanks[b]));
        const int mask = _mm_movemask_epi8(_mm_packs_epi16(blank, _mm_setzero_si128()));
        // Stores no further than the block just read.
        const Shuffle& shuffle = shuffles[size_t(mask)];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(chars, shuffle.order));
        out += shuffle.kept;
    }
    for (; i < size; ++i) {
        const char16_t c = data[i];
        *out = c;
        out += !(c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == fifth);
    }
    return out - data;
}
#endif

QString StripBlanks(QString& text)
{
    const QChar fifth = ansiBlank();
    const auto isBlank = [fifth](QChar c) {
        return c == u' ' || c == u'\r' || c == u'\n' || c == u'\t' || c == fifth;
    };
    // One pass instead of five replace-alls: deleting a blank never creates another one, so the
    // order of deletion does not matter. Untouched text is not detached.
    const qsizetype first = std::find_if(text.cbegin(), text.cend(), isBlank) - text.cbegin();
    if (first == text.size())
        return text;
    QChar* const begin = text.data(); // detaches: offsets only from here on
#if defined(__SSE2__)
    if (__builtin_cpu_supports("ssse3")) {
        text.truncate(first
            + stripBlocks(
                reinterpret_cast<char16_t*>(begin + first), text.size() - first, fifth.unicode()));
        return text;
    }
#endif
    text.truncate(std::remove_if(begin + first, begin + text.size(), isBlank) - begin);
    return text;
}

QString strCut(const QString& strContent, const QString& StrStart, const QString& StrEnd)
{
    // Positions below are counted from 1, as the cut rule is stated.
    const qsizetype found = StrStart.isEmpty() ? 0 : findFrom(strContent, StrStart, 0);
    const qsizetype startFound = (strContent.isEmpty() || found < 0) ? 0 : found + 1;
    const qsizetype s = startFound + StrStart.size();
    if (s < 1 || s > strContent.size() || StrEnd.isEmpty())
        return {};
    const qsizetype e = findFrom(strContent, StrEnd, s - 1);
    if (e < 0)
        return {};
    return strContent.mid(s - 1, e + 1 - s);
}
