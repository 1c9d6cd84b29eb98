// One whole query, from the click on "查询" to the six labels, against a server on loopback,
// beside the curl command fetching the same page and beside the fetch alone in this process.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include "support/fakeserver.h"
#include "window/form1.h"
#include "window/pagefetch.h"

extern char** environ;

namespace {

TestHttpServer& server()
{
    static TestHttpServer instance;
    static const bool routed = [] {
        QFile page(QStringLiteral(TEST_PAGES_DIR "/sponsoring.html"));
        page.open(QIODevice::ReadOnly);
        instance.route("/cgi-bin/whois", {200, page.readAll()});
        return true;
    }();
    (void)routed;
    return instance;
}

QString pageUrl()
{
    return server().base() + "/cgi-bin/whois?domain=example.cn";
}

void BM_QueryDomain(benchmark::State& state)
{
    Form1Services services;
    services.sites.whoisBase = server().base() + "/cgi-bin/whois?domain=";
    services.sites.banner.clear();
    services.reportError = [&state](QWidget*, const QString& message) {
        state.SkipWithError(message.toUtf8().constData());
    };
    Form1 form(services);
    form.domainBox->setText("example.cn");
    for (auto _ : state)
        form.queryButton->click();
    if (form.registrarLabel->text().isEmpty())
        state.SkipWithError("the query showed nothing");
}

void BM_FetchBody(benchmark::State& state)
{
    QNetworkAccessManager network;
    for (auto _ : state)
        benchmark::DoNotOptimize(fetchBody(network, pageUrl(), {}));
}

void BM_CurlCommand(benchmark::State& state)
{
    std::string url = pageUrl().toStdString();
    char program[] = "/usr/bin/curl";
    char silent[] = "-s";
    char output[] = "-o/dev/null";
    char* argv[] = {program, silent, output, url.data(), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("curl cannot be started");
            break;
        }
        waitpid(pid, nullptr, 0);
    }
}

} // namespace

BENCHMARK(BM_QueryDomain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FetchBody)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CurlCommand)->Unit(benchmark::kMicrosecond);

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("no_proxy", "*");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
