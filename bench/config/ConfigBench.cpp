// Cost of the configuration layer over the registry. Baselines in the same
// run: one RegGetString of a stored value (for listing and lookup), and the
// srand/rand formulation of the container name (for MakeContainerName).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "config/ContainerNaming.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/ServerSettings.h"

namespace {

// A scratch registry with `count` per-user services and as many machine-wide ones.
class ScratchRegistry {
  public:
    explicit ScratchRegistry(int count) {
        char tmpl[] = "/tmp/nimbex-bench-XXXXXX";
        root_ = mkdtemp(tmpl);
        setenv("NIMBEX_MACHINE_DIR", (root_ + "/machine").c_str(), 1);
        setenv("NIMBEX_USER_DIR", (root_ + "/user").c_str(), 1);
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            SaveServerSettings(ServerSettings("Machine" + n, "https://auth" + n + "/",
                                              "https://sign" + n + ".example/api/"),
                               true);
            SaveServerSettings(ServerSettings("User" + n, "https://auth" + n + "/",
                                              "https://user" + n + ".example/api/"),
                               false);
        }
    }
    ~ScratchRegistry() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

  private:
    std::string root_;
};

void BM_RegGetString_Baseline(benchmark::State& state) {
    ScratchRegistry registry(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            RegGetString("\\config\\KeyDevices\\Cloud\\Default\\Machine0\\rest_URL"));
}

void BM_EnumAllServerSettings(benchmark::State& state) {
    ScratchRegistry registry(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(EnumAllServerSettings());
}

void BM_FindServerSettingsByRestUrl(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    ScratchRegistry registry(count);
    const std::string last = "HTTPS://USER" + std::to_string(count - 1) + ".EXAMPLE/api/";
    for (auto _ : state) benchmark::DoNotOptimize(FindServerSettings(last, kServerParamRestUrl));
}

void BM_ReadModuleOptions(benchmark::State& state) {
    ScratchRegistry registry(1);
    SetModuleOption(kOptionTimeout, 1000);
    for (auto _ : state) benchmark::DoNotOptimize(ReadModuleOptions());
}

void BM_ContainerNameThroughRand_Baseline(benchmark::State& state) {
    uint32_t number = 0;
    for (auto _ : state) {
        srand(1234 + number++);
        std::string guid = "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx";
        for (char& c : guid) {
            int d = rand() % 16;
            if (c == 'y') d &= 0xB;
            if (c == 'x' || c == 'y') c = "0123456789abcdef"[d];
        }
        benchmark::DoNotOptimize("KEL-" + guid);
    }
}

void BM_MakeContainerName(benchmark::State& state) {
    uint32_t number = 0;
    for (auto _ : state) benchmark::DoNotOptimize(MakeContainerName("", 1234 + number++));
}

}  // namespace

BENCHMARK(BM_RegGetString_Baseline)->Arg(10);
BENCHMARK(BM_EnumAllServerSettings)->Arg(1)->Arg(10)->Arg(50);
BENCHMARK(BM_FindServerSettingsByRestUrl)->Arg(10)->Arg(50);
BENCHMARK(BM_ReadModuleOptions);
BENCHMARK(BM_ContainerNameThroughRand_Baseline);
BENCHMARK(BM_MakeContainerName);

BENCHMARK_MAIN();
