// Any bytes as an RDAP answer: read, rendered as a page and read back, without a crash; what
// reads as a domain must keep the dates it was read with.
#include <cstdint>
#include <cstdlib>

#include "whoispage/cut.h"
#include "service/http/page.h"
#include "service/reading/rdapreading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const RdapReading reading
        = readRdapDomain(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!reading.valid)
        return 0;
    LookupResult result;
    result.outcome = Outcome::Registered;
    result.record = reading.record;
    QString page = decodeAnsi(whoisPage(QStringLiteral("fuzz.example"), result).body);
    const WhoisFacts read = readWhoisPage(stripBlanks(page));
    const WhoisFacts meant = intendedFacts(result);
    if (read.truename != QStringLiteral("注册局暂时没有应答，请稍后再试")
        && (read.bdate != meant.bdate || read.edate != meant.edate))
        std::abort();
    return 0;
}
