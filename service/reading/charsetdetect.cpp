#include "charsetdetect.h"

#include <memory>

#include <QStringDecoder>

#include <unicode/ucsdet.h>

QString decodeDetected(const QByteArray& bytes)
{
    // The first part tells the charset as well as the whole would.
    constexpr qsizetype kSample = 64 * 1024;
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UCharsetDetector, decltype(&ucsdet_close)> detector(
        ucsdet_open(&status), ucsdet_close);
    if (U_SUCCESS(status))
        ucsdet_setText(
            detector.get(), bytes.constData(), int32_t(std::min(bytes.size(), kSample)), &status);
    const UCharsetMatch* match
        = U_SUCCESS(status) ? ucsdet_detect(detector.get(), &status) : nullptr;
    const char* name = match && U_SUCCESS(status) ? ucsdet_getName(match, &status) : nullptr;
    if (name && U_SUCCESS(status)) {
        QStringDecoder decoder(name);
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return QString::fromLatin1(bytes);
}
