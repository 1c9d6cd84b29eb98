// Any bytes as the service's RDAP answer, with any Cache-Control and Retry-After: read, applied to
// a watched name and shown as marker and tooltip, without a crash; facts compared with
// themselves make no change.
#include <cstdint>
#include <cstdlib>

#include "watching/lifecycle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QDateTime now(QDate(2024, 9, 1), QTime(0, 0), Qt::UTC);
    const QByteArray header = bytes.left(64);
    for (const int status : {200, 404, 429}) {
        const CheckAnswer answer = readCheckAnswer(status, bytes, header, header, now);
        WatchRecord record;
        record.known = true;
        record = applyAnswer(record, answer, now, CheckPolicy {});
        markerFor(record, now);
        describeRecord(QStringLiteral("fuzz.example"), record, now);
        if (!detectChanges(answer.facts, answer.facts, now).isEmpty())
            std::abort();
        readRfc3339(QString::fromUtf8(bytes));
    }
    return 0;
}
