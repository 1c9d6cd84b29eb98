// Any bytes as a registry's answer, read by every format and rendered as a page: nothing may
// crash, and the page must read back in the program with the dates that were read.
#include <cstdint>
#include <cstdlib>

#include "whoispage/cut.h"
#include "service/http/page.h"
#include "service/reading/whoistext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const char* server : {"whois.example.test", "whois.jprs.jp"}) {
        const QString text = decodeWhoisAnswer(QString::fromLatin1(server), bytes);
        for (const WhoisFormat& format : whoisFormats()) {
            LookupResult result;
            const WhoisReading reading = readWhoisAnswer(text, format);
            result.outcome = reading.outcome;
            result.record = reading.record;
            const Reply reply = whoisPage(QStringLiteral("fuzz.example"), result);
            QString page = decodeAnsi(reply.body);
            const WhoisFacts read = readWhoisPage(stripBlanks(page));
            const WhoisFacts meant = intendedFacts(result);
            const bool failurePage
                = read.truename == QStringLiteral("注册局暂时没有应答，请稍后再试");
            if (!failurePage && (read.bdate != meant.bdate || read.edate != meant.edate))
                std::abort();
        }
    }
    return 0;
}
