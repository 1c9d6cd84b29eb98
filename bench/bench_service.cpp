// The whois service under wrk at 50 connections on loopback, beside nginx serving the very same
// page as a static file in the same run; the service's added latency on a miss, above the fake
// upstream's own; its memory idle and under load. The service runs in this process with its fake
// registries (idle while wrk runs); wrk and nginx are processes of their own.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <regex>
#include <thread>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "support/fakeregistries.h"
#include "support/fakeserver.h"
#include "bench/procstat.h"

extern char** environ;

namespace {

constexpr const char* kWrk = "/usr/bin/wrk";
constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kPath = "/cgi-bin/whois?domain=example.com.cn";

double rssMb()
{
    return double(rssKb(getpid())) / 1024;
}

struct Upstream
{
    Upstream()
    {
        registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
        ServiceSettings settings = onLoopback(registries.settings());
        settings.registries.perMinute = {1000000, 1000000, 1000000};
        service = std::make_unique<WhoisService>(settings);
        idleMb = rssMb();
        page = httpRequest(base() + kPath).body;
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(service->port()); }

    FakeRegistries registries;
    std::unique_ptr<WhoisService> service;
    double idleMb = 0;
    QByteArray page;
};

Upstream& upstream()
{
    static Upstream instance;
    return instance;
}

pid_t spawn(std::vector<std::string> args, const std::string& output = {})
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(
            &actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// nginx serving the service's page as a file, with as many workers as the service has threads.
struct Nginx
{
    Nginx()
    {
        QDir(dir.path()).mkpath("root/cgi-bin");
        QFile page(dir.filePath("root/cgi-bin/whois"));
        page.open(QIODevice::WriteOnly);
        page.write(upstream().page);
        page.close();
        port = 20000 + quint16(getpid() % 20000);
        QFile conf(dir.filePath("nginx.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write(
            QStringLiteral("worker_processes 2;\npid %1/nginx.pid;\nerror_log %1/error.log;\n"
                           "events { worker_connections 1024; }\n"
                           "http { access_log off; default_type \"text/plain; charset=GBK\";\n"
                           "  server { listen 127.0.0.1:%2; root %1/root;\n"
                           "    location = /cgi-bin/whois { add_header Cache-Control \"public, "
                           "max-age=900\"; } } }\n")
                .arg(dir.path())
                .arg(port)
                .toUtf8());
        conf.close();
        pid = spawn({kNginx, "-p", dir.path().toStdString(), "-c", conf.fileName().toStdString(),
            "-g", "daemon off;"});
        for (int i = 0; i < 100 && httpRequest(base() + "/cgi-bin/whois").status != 200; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~Nginx()
    {
        kill(pid, SIGQUIT);
        waitpid(pid, nullptr, 0);
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port); }

    QTemporaryDir dir;
    quint16 port = 0;
    pid_t pid = -1;
};

struct WrkFigures
{
    double requestsPerSecond = 0;
    double averageMs = 0;
    double p99Ms = 0;
};

double toMs(const std::string& value, const std::string& unit)
{
    const double v = std::stod(value);
    return unit == "us" ? v / 1000 : unit == "s" ? v * 1000 : v;
}

WrkFigures runWrk(const QString& url)
{
    QTemporaryDir dir;
    const std::string output = dir.filePath("wrk.txt").toStdString();
    const pid_t pid = spawn({kWrk, "-t2", "-c50", "-d10s", "--latency", url.toStdString()}, output);
    waitpid(pid, nullptr, 0);
    QFile file(QString::fromStdString(output));
    file.open(QIODevice::ReadOnly);
    const std::string text = file.readAll().toStdString();
    WrkFigures figures;
    std::smatch m;
    if (std::regex_search(text, m, std::regex(R"(Requests/sec:\s+([\d.]+))")))
        figures.requestsPerSecond = std::stod(m[1]);
    if (std::regex_search(text, m, std::regex(R"(Latency\s+([\d.]+)(us|ms|s))")))
        figures.averageMs = toMs(m[1], m[2]);
    if (std::regex_search(text, m, std::regex(R"(99%\s+([\d.]+)(us|ms|s))")))
        figures.p99Ms = toMs(m[1], m[2]);
    return figures;
}

WrkFigures g_service, g_nginx;
double g_loadMb = 0;
double g_hugeBefore = 0, g_hugeAfter = 0;

void report(benchmark::State& state, const WrkFigures& figures)
{
    state.counters["requests_per_s"] = figures.requestsPerSecond;
    state.counters["latency_avg_ms"] = figures.averageMs;
    state.counters["latency_p99_ms"] = figures.p99Ms;
}

bool haveTools(benchmark::State& state)
{
    if (access(kWrk, X_OK) == 0 && access(kNginx, X_OK) == 0)
        return true;
    state.SkipWithError("needs wrk and nginx (bench/run.sh installs them)");
    return false;
}

void BM_CachedAnswer_Service(benchmark::State& state)
{
    if (!haveTools(state))
        return;
    for (auto _ : state) {
        std::atomic<bool> running {true};
        double peak = 0;
        std::thread sampler([&] {
            while (running) {
                peak = std::max(peak, rssMb());
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        g_service = runWrk(upstream().base() + kPath);
        running = false;
        sampler.join();
        g_loadMb = peak;
    }
    report(state, g_service);
    state.counters["memory_idle_MB"] = upstream().idleMb;
    state.counters["memory_under_load_MB"] = g_loadMb;
}

void BM_CachedAnswer_Nginx(benchmark::State& state)
{
    if (!haveTools(state))
        return;
    Nginx nginx;
    for (auto _ : state)
        g_nginx = runWrk(nginx.base() + kPath);
    report(state, g_nginx);
}

// One whois exchange, as a plain client makes it: the registry's own time for an answer.
void whoisExchange(const Endpoint& to, const QByteArray& query)
{
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(to.address, to.port);
    if (!socket.waitForConnected(5000))
        return;
    socket.write(query);
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        socket.readAll();
}

// A miss: the service asks the (instant) fake registry over port 43, renders and checks the page.
void BM_Miss(benchmark::State& state)
{
    Upstream& up = upstream();
    const Endpoint registry {QHostAddress("127.0.0.3"), up.registries.whois.port()};
    int n = 0;
    double upstreamMs = 0;
    for (auto _ : state) {
        const QString domain = QStringLiteral("miss-%1.cn").arg(n++);
        const auto start = Clock::now();
        const HttpGot got = httpRequest(up.base() + "/cgi-bin/whois?domain=" + domain);
        const auto served = Clock::now();
        whoisExchange(registry, domain.toUtf8() + "\r\n");
        const auto asked = Clock::now();
        upstreamMs += std::chrono::duration<double, std::milli>(asked - served).count();
        state.SetIterationTime(std::chrono::duration<double>(served - start).count());
        if (got.status != 200)
            state.SkipWithError("a miss was not answered");
    }
    state.counters["upstream_alone_ms"]
        = upstreamMs / double(std::max<int64_t>(state.iterations(), 1));
}

// 400 look-ups whose RDAP registrant name is 900,000 characters, every page kept: what the
// service holds afterwards beyond what it held before.
void BM_HugeFields(benchmark::State& state)
{
    constexpr int kLookUps = 400;
    FakeRegistries registries;
    TestHttpServer rdap {"127.0.0.5"};
    QTemporaryDir cache;
    rdap.route("/dns.json",
        {200, R"({"version":"1.0","services":[[["com"],[")" + rdap.base().toUtf8() + R"(/"]]]})"});
    const QByteArray answer = R"({"objectClassName":"domain","entities":[{"roles":["registrar"],)"
                              R"("vcardArray":["vcard",[["fn",{},"text","Registrar One"]]]},)"
                              R"({"roles":["registrant"],"vcardArray":["vcard",[["fn",{},"text",")"
        + QByteArray(900000, 'A') + R"("]]]}],"events":[{"eventAction":"registration",)"
        + R"("eventDate":"2001-02-03T04:05:06Z"}]})";
    for (int i = 0; i < kLookUps; ++i)
        rdap.route("/domain/huge-" + QByteArray::number(i) + ".com", {200, answer});
    ServiceSettings settings = onLoopback(registries.settings());
    settings.registries.perMinute = {1000000, 1000000, 1000000};
    settings.rdapBootstrap = rdap.base() + "/dns.json";
    settings.cacheDir = cache.path();
    WhoisService service(settings);
    const QString base
        = QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=").arg(service.port());
    httpRequest(base + "warm-up.com"); // the bootstrap comes in
    const double before = rssMb();
    qint64 pageBytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < kLookUps; ++i)
            pageBytes += httpRequest(base + QStringLiteral("huge-%1.com").arg(i)).body.size();
    }
    g_hugeBefore = before;
    g_hugeAfter = rssMb();
    state.counters["memory_before_MB"] = before;
    state.counters["memory_after_MB"] = g_hugeAfter;
    state.counters["page_kB"] = double(pageBytes) / kLookUps / 1024;
}

double g_connectionsPerWarmMiss = -1;

// Distinct .com look-ups over RDAP, a thin registry and its registrar, both already used: the new
// upstream connections each costs. Over a wide-area link each is a TCP and a TLS round trip more.
void BM_WarmRdapMiss(benchmark::State& state)
{
    FakeRegistries registries;
    const QByteArray thin
        = rdapFixture("registry-com.json")
              .replace("{registry}", registries.rdap.base().toUtf8() + "/rdap/")
              .replace("{registrar}", registries.registrar.base().toUtf8() + "/rdap/");
    constexpr int kMisses = 200;
    for (int i = 0; i <= kMisses; ++i)
        registries.rdap.route("/rdap/domain/warm-" + QByteArray::number(i) + ".com", {200, thin});
    ServiceSettings settings = registries.service(true);
    settings.registries.perMinute = {1000000, 1000000, 1000000};
    WhoisService service(settings);
    const QString base
        = QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=").arg(service.port());
    httpRequest(base + "warm.cn"); // starts the bootstrap's fetch
    for (int i = 0; i < 500 && !QFile::exists(registries.cache.filePath("dns.json")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    httpRequest(base + "warm-0.com"); // both servers used once
    const quint64 before = service.upstreamConnectionsOpened();
    int n = 0;
    for (auto _ : state) {
        if (httpRequest(base + QStringLiteral("warm-%1.com").arg(++n)).status != 200)
            state.SkipWithError("a miss was not answered");
    }
    g_connectionsPerWarmMiss
        = double(service.upstreamConnectionsOpened() - before) / std::max(n, 1);
    state.counters["new_connections_per_warm_miss"] = g_connectionsPerWarmMiss;
}

double g_politeMs[2] = {-1, -1};

// A polite client's misses, five a second, alone (0) and while another client floods the
// service with misses under the same registry (1): the flood spends its own share only.
void BM_PoliteClient(benchmark::State& state)
{
    const bool flood = state.range(0) != 0;
    FakeRegistries registries;
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    ServiceSettings settings = onLoopback(registries.settings());
    settings.http.trustedProxies = {QHostAddress::LocalHost};
    WhoisService service(settings);
    const QString base
        = QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=").arg(service.port());
    std::atomic<bool> flooding {flood};
    std::atomic<qint64> flooded {0};
    std::vector<std::thread> flooders;
    for (int t = 0; flood && t < 8; ++t) {
        flooders.emplace_back([&, t] {
            for (int i = 0; flooding; ++i) {
                httpRequest(base + QStringLiteral("flood-%1-%2.cn").arg(t).arg(i), "GET",
                    {"X-Forwarded-For: 198.51.100.1"});
                ++flooded;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the flood under way
    int n = 0, served = 0;
    double totalMs = 0;
    std::vector<double> each;
    for (auto _ : state) {
        const auto start = Clock::now();
        const HttpGot got = httpRequest(base + QStringLiteral("polite-%1.cn").arg(n++), "GET",
            {"X-Forwarded-For: 198.51.100.2"});
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000);
        each.push_back(ms);
        totalMs += ms;
        served += got.status == 200 ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    flooding = false;
    for (std::thread& flooder : flooders)
        flooder.join();
    std::sort(each.begin(), each.end());
    g_politeMs[flood] = each.empty() ? -1 : each[each.size() / 2];
    state.counters["polite_median_ms"] = g_politeMs[flood];
    state.counters["polite_served"] = double(served) / std::max(n, 1);
    state.counters["flood_requests"] = double(flooded);
}

} // namespace

BENCHMARK(BM_WarmRdapMiss)->Iterations(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PoliteClient)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedAnswer_Service)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedAnswer_Nginx)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Miss)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HugeFields)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_service.requestsPerSecond > 0 && g_nginx.requestsPerSecond > 0) {
        std::printf(
            "\nCached answer at 50 connections: service %.0f req/s, nginx %.0f req/s: %.2f of "
            "nginx's throughput\n",
            g_service.requestsPerSecond, g_nginx.requestsPerSecond,
            g_service.requestsPerSecond / g_nginx.requestsPerSecond);
    }
    if (g_hugeAfter > 0)
        std::printf("\nMemory after 400 look-ups with a 900,000-character registrant name: "
                    "%.1f MB, from %.1f MB before\n",
            g_hugeAfter, g_hugeBefore);
    if (g_connectionsPerWarmMiss >= 0)
        std::printf("New upstream connections per warm RDAP miss (registry and registrar): %.2f\n",
            g_connectionsPerWarmMiss);
    if (g_politeMs[0] >= 0 && g_politeMs[1] >= 0)
        std::printf("A polite client's miss: %.2f ms alone, %.2f ms while another floods\n",
            g_politeMs[0], g_politeMs[1]);
    return 0;
}
