// A whois page of any bytes, read as the window reads it: decoded, stripped, cut into the five
// values. Nothing may crash, and every value must be a piece of the page or one of the fixed
// texts, the dates in their date form.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "whoispage/cut.h"
#include "whoispage/whois.h"

namespace {

void check(bool holds)
{
    if (!holds)
        std::abort();
}

void checkDate(const QString& shown, const QString& page)
{
    const qsizetype space = std::min<qsizetype>(10, shown.size() - 1);
    check(shown.size() >= 1 && shown.at(space) == u' ');
    check(page.contains(QString(shown).remove(space, 1)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QString page = decodeAnsi(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    stripBlanks(page);
    const WhoisFacts facts = readWhoisPage(page);
    const bool confidential = facts.truename == kConfidential && facts.mail == kConfidential;
    check(page.contains(facts.cop));
    check(confidential || (page.contains(facts.truename) && page.contains(facts.mail)));
    checkDate(facts.bdate, page);
    checkDate(facts.edate, page);
    return 0;
}
