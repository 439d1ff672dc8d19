// Creating a reader context (create_context, then free_context, through the
// reader table linked in) with 50 stored services, against one registry
// read in the same run; and the parts of a creation on their own: the
// module options, the merged list of services and the cloud lock's handle.
// The key-creation probe is off (its option is not set), so nothing goes to
// a service. The ratios are printed after the table (CPU time).
#include <benchmark/benchmark.h>
#include <nimbex/reader.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>

#include "RatioReporter.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/ServerSettings.h"
#include "reader/CloudMutexLocker.h"

namespace {

constexpr int kServices = 50;

// A scratch registry (and lock directory) with `count` services, half of
// them machine-wide, and the options set.
class ScratchRegistry {
  public:
    explicit ScratchRegistry(int count) {
        char tmpl[] = "/tmp/nimbex-bench-XXXXXX";
        root_ = mkdtemp(tmpl);
        setenv("NIMBEX_MACHINE_DIR", (root_ + "/machine").c_str(), 1);
        setenv("NIMBEX_USER_DIR", (root_ + "/user").c_str(), 1);
        setenv("NIMBEX_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
        SetModuleOption(kOptionTimeout, 10000);
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            SaveServerSettings(ServerSettings("Service" + n, "https://auth" + n + ".example/",
                                              "https://sign" + n + ".example/api/"),
                               i % 2 == 0);
        }
    }
    ~ScratchRegistry() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

  private:
    std::string root_;
};

uintptr_t Call(uintptr_t id, void* context, void* record) {
    const CloudReaderTable* table = cloud_reader_get_table();
    for (uintptr_t i = 0; i < table->count; ++i)
        if (table->functions[i].id == id) return table->functions[i].handler(context, record);
    return ~uintptr_t(0);
}

void BM_RegistryRead_Baseline(benchmark::State& state) {
    ScratchRegistry registry(kServices);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            RegGetString("\\config\\KeyDevices\\Cloud\\Default\\Service0\\rest_URL"));
}

void BM_CreateContext(benchmark::State& state) {
    ScratchRegistry registry(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CloudContextRecord created{nullptr};
        if (Call(CLOUD_CREATE_CONTEXT, nullptr, &created) != 0) state.SkipWithError("create");
        Call(CLOUD_FREE_CONTEXT, created.context, nullptr);
    }
}

void BM_ReadModuleOptions(benchmark::State& state) {
    ScratchRegistry registry(kServices);
    for (auto _ : state) benchmark::DoNotOptimize(ReadModuleOptions());
}

void BM_EnumAllServerSettings(benchmark::State& state) {
    ScratchRegistry registry(kServices);
    for (auto _ : state) benchmark::DoNotOptimize(EnumAllServerSettings());
}

void BM_CloudMutexLocker(benchmark::State& state) {
    ScratchRegistry registry(0);
    for (auto _ : state) benchmark::DoNotOptimize(boost::make_shared<CloudMutexLocker>());
}

class RatioReporter : public nimbex_bench::RatioReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() override {
        const std::string create = "BM_CreateContext/" + std::to_string(kServices);
        auto ratio = [&](const char* what, const std::string& a, const std::string& b) {
            if (times_.count(a) && times_.count(b) && times_[b] > 0)
                std::cout << what << ": " << times_[a] / times_[b] << "\n";
        };
        std::cout << "\nRatios (CPU time, same run):\n";
        ratio("context with 50 services / one registry read", create, "BM_RegistryRead_Baseline");
        ratio("context with 50 services / with none", create, "BM_CreateContext/0");
        ratio("share of the list of services", "BM_EnumAllServerSettings", create);
        ratio("share of the module options", "BM_ReadModuleOptions", create);
        ratio("share of the cloud lock's handle", "BM_CloudMutexLocker", create);
    }

  private:
    std::map<std::string, double> times_;
};

}  // namespace

BENCHMARK(BM_RegistryRead_Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateContext)->Arg(0)->Arg(kServices)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadModuleOptions)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EnumAllServerSettings)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CloudMutexLocker)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    RatioReporter reporter;
    return nimbex_bench::RunBenchmarks(argc, argv, reporter);
}
