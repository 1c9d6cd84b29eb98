// Start-up time and memory: the program from process start to its window's first paint, with a
// banner, with the strip blank, with 1,000 watched names never checked and checked (their state
// file read after the first paint), and with a long watch list, beside a bare Qt Widgets window
// with the same controls. Run under an X server (the figures are medians of repeated starts).
// Memory is the peak resident set at first paint, and the proportional set size of the program and
// all it started once everything has shown.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include "bench/procstat.h"
#include "bench/watchlistfile.h"
#include "support/fakeserver.h"

extern char** environ;

namespace {

struct Start
{
    double paintMs = 0;
    double paintMb = 0;
    double bannerMs = 0;
    double settledMb = 0;
};

Start startOnce(std::vector<std::string> args)
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const long long started = monotonicNs();
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string output;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, size_t(n));
    close(out[0]);
    waitpid(pid, nullptr, 0);

    Start start;
    std::istringstream lines(output);
    std::string what;
    long long value = 0, kb = 0;
    while (lines >> what >> value) {
        if (what == "paint") {
            lines >> kb;
            start.paintMs = (value - started) / 1e6;
            start.paintMb = kb / 1024.0;
        } else if (what == "banner") {
            start.bannerMs = (value - started) / 1e6;
        } else if (what == "memory") {
            start.settledMb = value / 1024.0;
        }
    }
    return start;
}

// A program folder with a watch list of rows entries; with checked, the state of each as checked.
const QTemporaryDir& programDir(int rows, bool checked)
{
    static std::map<std::pair<int, bool>, std::unique_ptr<QTemporaryDir>> dirs;
    auto& dir = dirs[{rows, checked}];
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        writeWatchList(dir->path(), rows);
        if (checked)
            writeWatchState(dir->path(), rows);
    }
    return *dir;
}

TestHttpServer& bannerServer()
{
    static TestHttpServer server;
    static const bool routed = [] {
        server.route("/ad/ad2.html",
            {200, "<html><body style='background:#fc0'>whois service: all well</body></html>"});
        return true;
    }();
    (void)routed;
    return server;
}

void report(benchmark::State& state, const Start& start)
{
    state.SetIterationTime(start.paintMs / 1000.0);
    state.counters["paint_ms"] = start.paintMs;
    state.counters["peak_MB_at_paint"] = start.paintMb;
    if (start.settledMb > 0)
        state.counters["pss_MB_settled"] = start.settledMb;
    if (start.bannerMs > 0)
        state.counters["banner_after_paint_ms"] = start.bannerMs - start.paintMs;
}

void BM_Floor(benchmark::State& state)
{
    for (auto _ : state)
        report(state, startOnce({STARTUP_FLOOR}));
}

void BM_Program(benchmark::State& state)
{
    const bool banner = state.range(0) != 0;
    const int rows = int(state.range(1));
    const std::string dir = programDir(rows, state.range(2) != 0).path().toStdString();
    const std::string url = (bannerServer().base() + "/ad/ad2.html").toStdString();
    for (auto _ : state)
        report(state, startOnce({STARTUP_PROBE, dir, banner ? url : "-"}));
}

} // namespace

BENCHMARK(BM_Floor)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program)
    ->ArgNames({"banner", "rows", "checked"})
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1000, 0})
    ->Args({0, 1000, 1})
    ->Args({0, 100000, 0})
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
