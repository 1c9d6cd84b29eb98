// The work after a page has arrived: GBK decoding, blank stripping and every cut, on a 1 MiB
// page, beside a plain memcpy of the same bytes as the floor.
#include <cstring>

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QStringEncoder>

#include "whoispage/cut.h"
#include "whoispage/whois.h"

namespace {

// Whois pages of the older layout grown to 1 MiB, with the markers at the end so that every cut
// searches the whole page: range 0 is mostly ASCII like most registries' pages, range 1 has
// Chinese text on every line like the Chinese registries' pages.
const QByteArray& bigPage(int kind)
{
    static const auto make = [](const QString& filler) {
        QStringEncoder gbk("GBK");
        const QByteArray line = gbk.encode(filler);
        const QByteArray tail = gbk.encode(QStringLiteral(
            "Registrant Name: 北京示例科技有限公司\r\nAdministrative Email: admin@example.cn\r\n"
            "Sponsoring Registrar: 北京新网数码信息技术有限公司\r\nName Server: ns1.example.cn\r\n"
            "Registration Date: 2003-03-17 12:20:05\r\nExpiration Date: 2013-03-17 12:48:36\r\n"
            "友情提示：以上信息仅供参考。\r\n"));
        QByteArray bytes;
        while (bytes.size() + line.size() + tail.size() <= 1024 * 1024)
            bytes += line;
        bytes += tail;
        bytes += QByteArray(1024 * 1024 - bytes.size(), ' ');
        return bytes;
    };
    static const QByteArray pages[] = {
        make(QStringLiteral("   Name Server: NS1.EXAMPLE-REGISTRAR.COM   Status: ok\r\n")),
        make(
            QStringLiteral("   Remarks: 域名注册信息 registrar notice, line of text 友情说明\r\n")),
    };
    return pages[kind];
}

void BM_Memcpy(benchmark::State& state)
{
    const QByteArray& page = bigPage(int(state.range(0)));
    QByteArray copy(page.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(copy.data(), page.constData(), size_t(page.size()));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * page.size());
}

void BM_Decode(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeAnsi(bigPage(int(state.range(0)))));
    state.SetBytesProcessed(state.iterations() * bigPage(int(state.range(0))).size());
}

void BM_Strip(benchmark::State& state)
{
    const QString decoded = decodeAnsi(bigPage(int(state.range(0))));
    for (auto _ : state) {
        QString text = decoded;
        benchmark::DoNotOptimize(stripBlanks(text));
    }
    state.SetBytesProcessed(state.iterations() * bigPage(int(state.range(0))).size());
}

void BM_Cuts(benchmark::State& state)
{
    QString page = decodeAnsi(bigPage(int(state.range(0))));
    stripBlanks(page);
    for (auto _ : state)
        benchmark::DoNotOptimize(readWhoisPage(page));
    state.SetBytesProcessed(state.iterations() * bigPage(int(state.range(0))).size());
}

// Everything the window does with the bytes of an answer once they are in.
void BM_WholePostProcessing(benchmark::State& state)
{
    for (auto _ : state) {
        QString page = decodeAnsi(bigPage(int(state.range(0))));
        stripBlanks(page);
        benchmark::DoNotOptimize(readWhoisPage(page));
    }
    state.SetBytesProcessed(state.iterations() * bigPage(int(state.range(0))).size());
}

} // namespace

BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Strip)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Cuts)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholePostProcessing)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
