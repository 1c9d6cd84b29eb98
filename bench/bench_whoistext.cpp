// Reading a registry's answer, which a registrar (a third party) may shape to hurt: whois answers
// and RDAP answers of hostile shapes at 256 KiB and 1 MiB, each read whole. The time must grow with
// the size alone (four times the bytes, four times the time) and stay well under 50 ms at 1 MiB.
#include <benchmark/benchmark.h>

#include <QByteArray>

#include "service/reading/rdapreading.h"
#include "service/reading/whoistext.h"

namespace {

QByteArray grown(const std::function<QByteArray(int)>& line, int size = 1024 * 1024)
{
    QByteArray bytes;
    for (int i = 0; bytes.size() < size; ++i)
        bytes += line(i);
    bytes.truncate(size);
    return bytes;
}

// 0: lines each one tab deeper, every one a header; 1: one line of blanks and brackets;
// 2: a header, then blank lines; 3: keys without values; 4: value lines under one header;
// 5: an ordinary answer repeated; 6: contact objects, each naming the next by its handle.
QByteArray answer(int kind, int size)
{
    switch (kind) {
    case 0:
        return grown([](int i) { return QByteArray(i, '\t') + "Registrant:\n"; }, size);
    case 1:
        return "Registrar: " + grown([](int i) { return QByteArray(i % 7 ? " " : "( "); }, size);
    case 2:
        return "Registrant:\n" + grown([](int) { return QByteArray("\n"); }, size);
    case 3:
        return grown([](int i) { return "Key " + QByteArray::number(i) + ":\n"; }, size);
    case 4:
        return "Registrant:\n"
            + grown([](int) { return QByteArray("    Example Holder Ltd\n"); }, size);
    case 5:
        return grown(
            [](int) {
                return QByteArray("Domain Name: example.com\nRegistrar: Example Registrar, Inc.\n"
                                  "Creation Date: 1999-08-14T04:00:00Z\n"
                                  "Registrant Name: REDACTED FOR PRIVACY\n"
                                  "Name Server: ns1.example.com\n\n");
            },
            size);
    default:
        return grown(
            [](int i) {
                return "domain: example.com\nholder-c: H" + QByteArray::number(i + 1)
                    + "\nregistrar: r" + QByteArray::number(i) + "\n\nnic-hdl: H"
                    + QByteArray::number(i) + "\norg: Holder\n\n";
            },
            size);
    }
}

void BM_ReadAnswer(benchmark::State& state)
{
    const QByteArray bytes = answer(int(state.range(0)), int(state.range(1)) * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(readAnswerFrom("whois.example.test", "example.com", bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

// An RDAP domain whose arrays fill size: 0: redactions of a field not shown, then entities with the
// registrant's role (half the bytes each, every entity matched against every redaction were the
// match a list's); 1: redactions alone; 2: registrant entities alone; 3: name servers.
QByteArray rdapAnswer(int kind, int size)
{
    const auto array = [](const QByteArray& item, int bytes) {
        QByteArray items = "[" + item;
        while (items.size() + item.size() + 2 <= bytes)
            items += "," + item;
        return items + "]";
    };
    const QByteArray redaction = R"({"name":{"type":"Registrant City"},"method":"removal"})";
    const QByteArray entity
        = R"({"roles":["registrant"],"vcardArray":["vcard",[["fn",{},"text","H"],)"
          R"(["org",{},"text","H Ltd"],["email",{},"text","h@example.com"]]]})";
    const QByteArray server = R"({"objectClassName":"nameserver","ldhName":"ns1.example.com"})";
    const QByteArray head = R"({"objectClassName":"domain",)";
    switch (kind) {
    case 0:
        return head + R"("redacted":)" + array(redaction, size / 2) + R"(,"entities":)"
            + array(entity, size / 2) + "}";
    case 1:
        return head + R"("redacted":)" + array(redaction, size) + "}";
    case 2:
        return head + R"("entities":)" + array(entity, size) + "}";
    default:
        return head + R"("nameservers":)" + array(server, size) + "}";
    }
}

void BM_ReadRdap(benchmark::State& state)
{
    const QByteArray json = rdapAnswer(int(state.range(0)), int(state.range(1)) * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(readRdapDomain(json));
    state.SetBytesProcessed(state.iterations() * json.size());
}

} // namespace

BENCHMARK(BM_ReadRdap)
    ->ArgsProduct({benchmark::CreateDenseRange(0, 3, 1), {256, 1024}})
    ->ArgNames({"shape", "KiB"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAnswer)
    ->ArgsProduct({benchmark::CreateDenseRange(0, 6, 1), {256, 1024}})
    ->ArgNames({"shape", "KiB"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
