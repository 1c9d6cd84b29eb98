// Filling the watch list with 100,000 stored domains, beside the sqlite3 command reading the same
// rows from the same file, and beside the SQLite C API alone as the floor. Then the catch-up of
// 1,000 names never checked, against a loopback service answering at once: the request rate
// under the real policy, and the longest stall of the window's event loop while checks run back
// to back.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <mutex>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sqlite3.h>

#include "bench/procstat.h"
#include "bench/watchlistfile.h"
#include "support/fakeserver.h"
#include "window/form1.h"

extern char** environ;

namespace {

constexpr int kRows = 100000;
const char* const kListing = "select url from domain order by id desc";

const QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    static const bool filled = (writeWatchList(dir.path(), kRows), true);
    (void)filled;
    return dir;
}

std::string databaseFile()
{
    return QDir(folder().path()).filePath("domain.mdb").toStdString();
}

void BM_LoadWatchList(benchmark::State& state)
{
    Form1Services services;
    const QString dir = folder().path();
    services.programDir = [dir] { return dir; };
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<Form1>(services);
        state.ResumeTiming();
        form->load();
        state.PauseTiming();
        QCoreApplication::processEvents();
        if (form->watchList->model()->rowCount() != kRows)
            state.SkipWithError("not every row was listed");
        form.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_Sqlite3Command(benchmark::State& state)
{
    std::string file = databaseFile();
    std::string query = kListing;
    char program[] = "/usr/bin/sqlite3";
    char* argv[] = {program, file.data(), query.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("sqlite3 cannot be started");
            break;
        }
        waitpid(pid, nullptr, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteCApi(benchmark::State& state)
{
    const std::string file = databaseFile();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, kListing, -1, &stmt, nullptr);
        size_t bytes = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            bytes += size_t(sqlite3_column_bytes(stmt, 0));
        benchmark::DoNotOptimize(bytes);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

constexpr int kWatched = 1000;

// The service on loopback: every name registered, answered at once; the times requests arrive.
struct Service
{
    Service()
    {
        QFile answer(QStringLiteral(WATCHING_ANSWER));
        answer.open(QIODevice::ReadOnly);
        TestHttpServer::Response domain {200, answer.readAll()};
        domain.headers = {{"Cache-Control", "public, max-age=900"}};
        domain.onRequest = [this] {
            const std::lock_guard lock(mutex);
            arrived.push_back(monotonicNs());
        };
        server.fallback(domain);
    }
    std::vector<long long> times()
    {
        const std::lock_guard lock(mutex);
        return arrived;
    }

    TestHttpServer server;
    std::mutex mutex;
    std::vector<long long> arrived;
};

// A window on a fresh folder of kWatched names, checking them through service.
std::unique_ptr<Form1> watchingWindow(
    const QTemporaryDir& dir, Service& service, std::chrono::seconds spacing)
{
    writeWatchList(dir.path(), kWatched);
    Form1Services services;
    const QString path = dir.path();
    services.programDir = [path] { return path; };
    services.sites.banner.clear();
    services.sites.rdapBase = service.server.base() + "/rdap/domain/";
    services.notificationBus = QStringLiteral("unix:path=/nonexistent");
    services.watchPolicy.spacing = spacing;
    auto form = std::make_unique<Form1>(services);
    form->load();
    form->show();
    return form;
}

// The real policy for 21 s: requests a minute, and the shortest gap between two.
void BM_CatchUpRate(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        Service service;
        auto form = watchingWindow(dir, service, CheckPolicy {}.spacing);
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer::singleShot(21000, &loop, &QEventLoop::quit);
        loop.exec();
        const std::vector<long long> at = service.times();
        long long shortest = 0;
        for (size_t i = 1; i < at.size(); ++i)
            shortest = i == 1 ? at[i] - at[i - 1] : std::min(shortest, at[i] - at[i - 1]);
        state.counters["requests"] = double(at.size());
        state.counters["per_minute"] = at.size() * 60000.0 / clock.elapsed();
        state.counters["shortest_gap_s"] = shortest / 1e9;
    }
}

// Checks back to back until all kWatched are done: the longest the event loop went without
// running a 1 ms timer, and checks a second.
void BM_CatchUpStall(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        Service service;
        QElapsedTimer clock;
        long long last = 0, longest = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const long long now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        auto form = watchingWindow(dir, service, std::chrono::seconds(0));
        while (service.times().empty()) // shown, the state file read, the first check out
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        clock.start();
        tick.start(1);
        QEventLoop loop;
        QTimer done;
        QObject::connect(&done, &QTimer::timeout, [&] {
            if (service.times().size() >= size_t(kWatched) || clock.elapsed() > 120000)
                loop.quit();
        });
        done.start(10);
        loop.exec();
        tick.stop();
        state.counters["checks"] = double(service.times().size());
        state.counters["checks_per_s"] = service.times().size() * 1000.0 / clock.elapsed();
        state.counters["longest_stall_ms"] = longest / 1e6;
    }
}

} // namespace

BENCHMARK(BM_CatchUpRate)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_CatchUpStall)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_LoadWatchList)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Sqlite3Command)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SqliteCApi)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
