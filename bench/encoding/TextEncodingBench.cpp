// Base64 of this module against OpenSSL's block coder on the same data.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "protocol/TextEncoding.h"

namespace {

const std::vector<unsigned char>& Data(size_t size) {
    static std::vector<unsigned char> small, large;
    std::vector<unsigned char>& v = size <= 1024 ? small : large;
    if (v.size() != size) {
        std::mt19937 rng(7);
        v.resize(size);
        for (auto& b : v) b = static_cast<unsigned char>(rng());
    }
    return v;
}

void BM_EncodeBase64(benchmark::State& state) {
    const auto& data = Data(size_t(state.range(0)));
    for (auto _ : state) {
        std::string text = EncodeBase64(data.data(), data.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_OpenSslEncodeBlock(benchmark::State& state) {
    const auto& data = Data(size_t(state.range(0)));
    for (auto _ : state) {
        // Same work as the module's: a fresh output string each time.
        std::string text(4 * ((data.size() + 2) / 3) + 1, '\0');
        int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), data.data(),
                                int(data.size()));
        text.resize(size_t(n));
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_DecodeBase64(benchmark::State& state) {
    const auto& data = Data(size_t(state.range(0)));
    const std::string text = EncodeBase64(data.data(), data.size());
    for (auto _ : state) {
        std::vector<unsigned char> bytes = DecodeBase64(text);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_DecodeBase64Into(benchmark::State& state) {
    const auto& data = Data(size_t(state.range(0)));
    const std::string text = EncodeBase64(data.data(), data.size());
    std::vector<unsigned char> out(data.size());
    for (auto _ : state) {
        size_t count = out.size();
        benchmark::DoNotOptimize(DecodeBase64Into(text, out.data(), &count));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_OpenSslDecodeBlock(benchmark::State& state) {
    const auto& data = Data(size_t(state.range(0)));
    const std::string text = EncodeBase64(data.data(), data.size());
    for (auto _ : state) {
        // Same work as DecodeBase64: a fresh output buffer each time.
        std::vector<unsigned char> bytes(text.size() / 4 * 3);
        int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                int(text.size()));
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_OpenSslDecodeBlockInto(benchmark::State& state) {
    const auto& data = Data(size_t(state.range(0)));
    const std::string text = EncodeBase64(data.data(), data.size());
    std::vector<unsigned char> out(text.size() / 4 * 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(EVP_DecodeBlock(
            out.data(), reinterpret_cast<const unsigned char*>(text.data()), int(text.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

constexpr int64_t kSmall = 1024;
constexpr int64_t kLarge = int64_t(64) << 20;

}  // namespace

BENCHMARK(BM_EncodeBase64)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSslEncodeBlock)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeBase64)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSslDecodeBlock)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeBase64Into)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSslDecodeBlockInto)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
