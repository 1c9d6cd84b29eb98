// Filling the watch list with 100,000 stored domains, beside the sqlite3 command reading the same
// rows from the same file, and beside the SQLite C API alone as the floor.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "bench/watchlistfile.h"
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

} // namespace

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
