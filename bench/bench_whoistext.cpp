// Reading a registry's answer, which a registrar (a third party) may shape to hurt: 1 MiB answers
// of hostile shapes, each read whole; the time must grow with the size alone (well under 50 ms).
#include <benchmark/benchmark.h>

#include <QByteArray>

#include "service/whoistext.h"

namespace {

constexpr int kSize = 1024 * 1024;

QByteArray grown(const std::function<QByteArray(int)>& line)
{
    QByteArray bytes;
    for (int i = 0; bytes.size() < kSize; ++i)
        bytes += line(i);
    bytes.truncate(kSize);
    return bytes;
}

// 0: lines each one tab deeper, every one a header; 1: one line of blanks and brackets;
// 2: a header, then blank lines; 3: keys without values; 4: value lines under one header;
// 5: an ordinary answer repeated.
const QByteArray& answer(int kind)
{
    static const QByteArray answers[] = {
        grown([](int i) { return QByteArray(i, '\t') + "Registrant:\n"; }),
        "Registrar: " + grown([](int i) { return QByteArray(i % 7 ? " " : "( "); }),
        "Registrant:\n" + grown([](int) { return QByteArray("\n"); }),
        grown([](int i) { return "Key " + QByteArray::number(i) + ":\n"; }),
        "Registrant:\n" + grown([](int) { return QByteArray("    Example Holder Ltd\n"); }),
        grown([](int) {
            return QByteArray(
                "Domain Name: example.com\nRegistrar: Example Registrar, Inc.\n"
                "Creation Date: 1999-08-14T04:00:00Z\n"
                "Registrant Name: REDACTED FOR PRIVACY\nName Server: ns1.example.com\n"
                "\n");
        }),
    };
    return answers[kind];
}

void BM_ReadAnswer(benchmark::State& state)
{
    const QByteArray& bytes = answer(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(readAnswerFrom("whois.example.test", "example.com", bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

} // namespace

BENCHMARK(BM_ReadAnswer)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
