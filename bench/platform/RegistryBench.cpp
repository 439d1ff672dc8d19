// Registry reads and writes on the process's warm connection, against the
// baseline of opening a fresh SQLite connection for every call.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <support/support.h>

#include <string>

#include "TempEnv.h"

namespace {

const char kPath[] = "\\config\\KeyDevices\\Cloud\\Default\\Bench\\rest_URL";
const char kValue[] = "https://sign.example.test/api/v1";

nimbex_test::TempEnv* Env() {
    static nimbex_test::TempEnv* env = [] {
        auto* e = new nimbex_test::TempEnv();
        support_registry_put_string(kPath, kValue);
        return e;
    }();
    return env;
}

void BM_GetWarm(benchmark::State& state) {
    Env();
    char buffer[128];
    for (auto _ : state) {
        size_t length = sizeof buffer;
        if (support_registry_get_string(kPath, &length, buffer) != 0) state.SkipWithError("get");
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_GetWarm);

void BM_PutWarm(benchmark::State& state) {
    Env();
    for (auto _ : state)
        if (support_registry_put_string(kPath, kValue) != 0) state.SkipWithError("put");
}
BENCHMARK(BM_PutWarm);

// Baseline: what every call would cost if it opened its own connection
// (open, WAL mode, busy timeout, one statement, close) on the same store.
void FreshConnection(benchmark::State& state, bool write) {
    std::string file = Env()->machineDir() + "/registry.db";
    const char* sql = write ? "UPDATE vals SET data = ?1 WHERE section = ?2 AND name = 'rest_URL'"
                            : "SELECT data FROM vals WHERE section = ?2 AND name = 'rest_URL'";
    const std::string section = "KeyDevices\\Cloud\\Default\\Bench";
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(db, 5000);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        if (write) sqlite3_bind_blob(statement, 1, kValue, sizeof kValue - 1, SQLITE_STATIC);
        sqlite3_bind_text(statement, 2, section.c_str(), -1, SQLITE_STATIC);
        if (sqlite3_step(statement) == SQLITE_ROW)
            benchmark::DoNotOptimize(sqlite3_column_blob(statement, 0));
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
}

void BM_GetFreshConnection(benchmark::State& state) {
    FreshConnection(state, false);
}
BENCHMARK(BM_GetFreshConnection);

void BM_PutFreshConnection(benchmark::State& state) {
    FreshConnection(state, true);
}
BENCHMARK(BM_PutFreshConnection);

}  // namespace

BENCHMARK_MAIN();
