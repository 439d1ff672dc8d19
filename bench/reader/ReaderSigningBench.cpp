// Signatures through the whole reader path (the CSP host calling sign_hash of
// the loaded libnimbex.so, its handler, the connector, the local service)
// against the connector's own Sign on the same service in the same run, for
// both request generations. Both sign the same hash with the same key over
// their own reused connection, with a request signer over the host's HMAC
// and random callbacks; they take turns, one signature each per iteration,
// and the medians of wall and CPU time are compared. Before timing, the
// requests of 50 reader signatures are read back from the service's log and
// must be exactly those of one signature each.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "Host.h"
#include "HostCrypto.h"
#include "LocalService.h"
#include "RatioReporter.h"
#include "Samples.h"
#include "base/HostCallbacks.h"
#include "config/SavedCredentials.h"
#include "config/ServerSettings.h"
#include "container/CloudCertificateLink.h"
#include "operations/KelContainerConnector.h"
#include "protocol/HttpMessageSignatureCreator.h"

namespace {

using Bytes = std::vector<unsigned char>;
const uint32_t kEcKey = 2, kSha256 = 0x800C;
const int kCounted = 50;

#define CALLER_WORDS uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t
// The host's own HMAC and random functions, for the connector signed alone.
uint32_t Hmac(CALLER_WORDS, uintptr_t alg, const unsigned char* key, uintptr_t keyLength,
              const unsigned char* data, uintptr_t size, unsigned char* out, uint32_t* length) {
    return csphost::ComputeHmac(alg, key, keyLength, data, size, out, length);
}
uint32_t Random(CALLER_WORDS, unsigned char* out, uintptr_t n) {
    return csphost::FillRandom(out, n);
}

// Registry and stores in a scratch directory, the local service, its
// services saved with the demo user's credentials; its EC key is linked as
// the container "ec" of the service measured.
struct Env {
    std::string root;
    std::unique_ptr<nimbex_test::LocalService> service;
    HostContext callbacks{};
    Bytes hash = Bytes(32, 0x5A);
    Env() {
        std::string tmpl = "/tmp/nimbex-bench-XXXXXX";
        root = mkdtemp(tmpl.data());
        for (const char* dir : {"machine", "user", "run"}) mkdir((root + "/" + dir).c_str(), 0700);
        setenv("NIMBEX_MACHINE_DIR", (root + "/machine").c_str(), 1);
        setenv("NIMBEX_USER_DIR", (root + "/user").c_str(), 1);
        setenv("NIMBEX_RUNTIME_DIR", (root + "/run").c_str(), 1);
        setenv("NIMBEX_BENCH_PIN", "1234", 1);
        service = std::make_unique<nimbex_test::LocalService>();
        setenv("NIMBEX_CA_FILE", service->caFile().c_str(), 1);
        callbacks.callbacks.hmac = Hmac;
        callbacks.callbacks.random = Random;
        for (const auto& [name, urls] : service->services()) {
            const ServerSettings entry(urls.name.c_str(), urls.auth.c_str(), urls.sign.c_str(),
                                       urls.docstore.c_str(), nullptr, false);
            SaveServerSettings(entry, false);
            SaveUserName(entry.name, SecretString("demo"));
            SavePassword(entry.name, SecretString("demo-password"));
        }
    }
    // One certificate is linked to one container: the service measured now.
    void Link(const std::string& name) {
        const nimbex_test::LocalServiceUrls& urls = service->service(name);
        const ServerSettings entry(urls.name.c_str(), urls.auth.c_str(), urls.sign.c_str(),
                                   urls.docstore.c_str(), nullptr, false);
        const Bytes der = Connect(name)->GetCertificate(kEcKey).certificate;
        if (InstallCloudCertificateFromBytes(der, "ec", entry, kEcKey, 0, {}, false, nullptr, 0,
                                             2) != 0)
            throw std::runtime_error("cannot link the key");
    }
    ~Env() {
        service.reset();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    boost::shared_ptr<KelContainerConnector> Connect(const std::string& name) {
        const nimbex_test::LocalServiceUrls& urls = service->service(name);
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetSilent(true);
        c->SetCredentials("demo", "demo-password");
        c->SetMessageSignatureCreator(MakeMessageSignatureCreator(&callbacks));
        return c;
    }
};

Env& Shared() {
    static Env env;
    return env;
}

using nimbex_bench::Median;
using nimbex_bench::Samples;

void Compare(benchmark::State& state, const std::string& name, size_t requestsPerSignature) {
    try {
        Env& env = Shared();
        env.Link(name);
        csphost::HostOptions options;
        options.storeDirectory = env.root + "/host";
        options.silent = true;
        options.pin = csphost::PinSource::Environment("NIMBEX_BENCH_PIN");
        csphost::Host host(NIMBEX_MODULE_PATH, options);
        csphost::Session session = host.Open(name);
        session.Lock();
        session.OpenContainer("ec");
        auto connector = env.Connect(name);
        auto reader = [&] { benchmark::DoNotOptimize(session.SignHash(env.hash, kSha256)); };
        auto direct = [&] {
            unsigned char signature[64];
            uint32_t length = sizeof signature;
            connector->Sign(kEcKey, env.hash.data(), 32, kSha256, "1234", signature, &length, false,
                            nullptr, 0);
        };
        reader();  // signed in, policy read, connections open
        direct();
        env.service->reset();
        for (int i = 0; i < kCounted; ++i) reader();
        const size_t logged = env.service->requestLog().size();
        state.counters["reader_requests_per_signature"] = double(logged) / kCounted;
        if (logged != kCounted * requestsPerSignature) {
            state.SkipWithError("the reader sent other requests than those of its signatures");
            return;
        }
        Samples samples[2];
        const std::function<void()> contenders[2] = {reader, direct};
        size_t first = 0;
        for (auto _ : state) {
            for (size_t k = 0; k < 2; ++k)
                samples[(first + k) % 2].Time(contenders[(first + k) % 2]);
            first ^= 1;
            state.SetIterationTime(samples[0].wall.back() / 1e6);
        }
        state.counters["reader_us"] = Median(samples[0].wall);
        state.counters["connector_us"] = Median(samples[1].wall);
        state.counters["wall_ratio"] = Median(samples[0].wall) / Median(samples[1].wall);
        state.counters["cpu_ratio"] = Median(samples[0].cpu) / Median(samples[1].cpu);
        state.counters["reader_signatures_per_s"] = 1e6 / Median(samples[0].wall);
        session.Unlock();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void BM_ReaderSignV1(benchmark::State& state) {
    Compare(state, "local-v1", 1);
}
void BM_ReaderSignV2(benchmark::State& state) {
    Compare(state, "local-v2", 5);
}
BENCHMARK(BM_ReaderSignV1)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReaderSignV2)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

class RatioReporter : public nimbex_bench::RatioReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred)
                for (const auto& counter : run.counters)
                    values_[run.benchmark_name().substr(0, run.benchmark_name().find('/')) + "." +
                            counter.first] = counter.second;
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() override {
        std::cout << "\nRatios (same run), reader path / connector, median wall time (target <= "
                     "1.10):\n";
        for (const char* name : {"BM_ReaderSignV1", "BM_ReaderSignV2"}) {
            const std::string key = std::string(name) + ".wall_ratio";
            if (!values_.count(key)) continue;
            std::cout << "  " << name << ": " << values_[key]
                      << (values_[key] <= 1.10 ? "" : "  MISSED") << "; CPU "
                      << values_[std::string(name) + ".cpu_ratio"] << "\n";
        }
    }

  private:
    std::map<std::string, double> values_;
};

}  // namespace

int main(int argc, char** argv) {
    RatioReporter reporter;
    return nimbex_bench::RunBenchmarks(argc, argv, reporter);
}
