#include "domainname.h"

#include <cstdlib>

#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

#include <idn2.h>
#include <libpsl.h>

#include "service/limits.h"

namespace {

const psl_ctx_t* suffixes()
{
    // The newest of libpsl's built-in list and the system's publicsuffix package.
    static const psl_ctx_t* const psl = psl_latest(nullptr);
    return psl;
}

// The host of a pasted address or "host:port/path", else the text itself.
QString hostOf(const QString& text)
{
    if (text.contains(QLatin1String("://")))
        return QUrl(text).host();
    QString host = text.section(u'/', 0, 0).section(u'?', 0, 0).section(u'#', 0, 0);
    host = host.section(u'@', -1);
    static const QRegularExpression port(QStringLiteral(":\\d*$"));
    return host.remove(port);
}

std::optional<QString> toAscii(const QString& name)
{
    char* ascii = nullptr;
    const QByteArray utf8 = name.toUtf8();
    const int rc = idn2_lookup_u8(reinterpret_cast<const uint8_t*>(utf8.constData()),
        reinterpret_cast<uint8_t**>(&ascii), IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT);
    if (rc != IDN2_OK)
        return std::nullopt;
    const QString result = QString::fromLatin1(ascii);
    idn2_free(ascii);
    return result;
}

bool wellFormed(const QString& domain)
{
    static const QRegularExpression hostname(
        QStringLiteral("^(?=.{1,253}$)([a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?\\.)+[a-z0-9-]{2,63}$"));
    return hostname.match(domain).hasMatch();
}

} // namespace

QString decodeTyped(const QByteArray& octets)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(octets);
    if (!utf8.hasError())
        return text;
    QStringDecoder gbk("GBK", QStringDecoder::Flag::Stateless);
    return gbk.decode(octets);
}

std::optional<QString> registrableDomain(const QString& typed)
{
    QString text = typed.trimmed().toLower();
    if (text.isEmpty() || text.toUtf8().size() > limits::kMaxQueryOctets)
        return std::nullopt;
    text = hostOf(text);
    while (text.endsWith(u'.'))
        text.chop(1);
    const std::optional<QString> ascii = toAscii(text);
    if (!ascii || !wellFormed(*ascii))
        return std::nullopt;
    // A TLD the list does not know is no TLD at all: nobody is asked about it, so made-up TLDs
    // cost no registry's allowance. (The list's default "*" rule would take any label.)
    const QStringList labels = ascii->split(u'.');
    if (!psl_is_public_suffix2(suffixes(), labels.last().toLatin1().constData(),
            PSL_TYPE_ICANN | PSL_TYPE_NO_STAR_RULE))
        return std::nullopt;
    // The shortest name under an ICANN public suffix, or the suffix itself.
    if (isPublicSuffix(*ascii))
        return ascii;
    for (qsizetype first = 1; first < labels.size(); ++first) {
        const QByteArray suffix = labels.mid(first).join(u'.').toLatin1();
        if (psl_is_public_suffix2(suffixes(), suffix.constData(), PSL_TYPE_ICANN))
            return labels.mid(first - 1).join(u'.');
    }
    return std::nullopt;
}

bool isPublicSuffix(const QString& domain)
{
    return psl_is_public_suffix2(suffixes(), domain.toLatin1().constData(), PSL_TYPE_ICANN);
}

QString unicodeName(const QString& ascii)
{
    if (!ascii.startsWith(QLatin1String("xn--")) && !ascii.contains(QLatin1String(".xn--")))
        return {};
    char* unicode = nullptr;
    if (idn2_to_unicode_8z8z(ascii.toLatin1().constData(), &unicode, 0) != IDN2_OK)
        return {};
    const QString result = QString::fromUtf8(unicode);
    idn2_free(unicode);
    return result;
}

QString topLevel(const QString& domain)
{
    return domain.section(u'.', -1);
}
