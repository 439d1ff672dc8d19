// Decoding costs of service answers, each against a baseline measured in the
// same run; the ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <json/reader.h>

#include <iostream>
#include <map>
#include <random>
#include <string>

#include "MallocCounter.h"
#include "RatioReporter.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

namespace {

std::string RandomBase64(size_t bytes, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string raw(bytes, '\0');
    for (char& c : raw) c = static_cast<char>(gen());
    return EncodeBase64(raw.data(), raw.size());
}

// 1,000 certificate records of about 1.2 KiB of DER each.
const std::string& CertificateListBody() {
    static const std::string body = [] {
        std::string b = "[";
        for (int i = 0; i < 1000; ++i) {
            if (i) b += ",";
            b += "{\"ID\":" + std::to_string(1000 + i) + ",\"CertificateBase64\":\"" +
                 RandomBase64(1200, i) + "\",\"FriendlyName\":\"Signing key " + std::to_string(i) +
                 "\",\"HasPin\":" + (i % 2 ? "true" : "false") + "}";
        }
        return b + "]";
    }();
    return body;
}

const size_t kLargeBytes = 75u << 20;  // 100 MiB of Base64 text

const std::string& LargeBody() {
    static const std::string body =
        "{\"Status\":\"Completed\",\"Content\":\"" + RandomBase64(kLargeBytes, 7) + "\"}";
    return body;
}

void ReportMemory(benchmark::State& state, int64_t peakExtra, int64_t output) {
    state.counters["peak_extra_MiB"] = static_cast<double>(peakExtra) / (1 << 20);
    // Peak use in units of the Base64 text's size (the decoded bytes are 0.75).
    state.counters["peak_in_texts"] =
        static_cast<double>(peakExtra) / static_cast<double>(kLargeBytes / 3 * 4);
    state.counters["output_MiB"] = static_cast<double>(output) / (1 << 20);
}

void BM_CertificateList_Decode(benchmark::State& state) {
    const std::string& body = CertificateListBody();
    for (auto _ : state) {
        std::vector<CertificateRecord> list = DecodeCertificateList(body);
        if (list.size() != 1000) state.SkipWithError("wrong record count");
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_CertificateList_Decode)->Unit(benchmark::kMillisecond);

void BM_CertificateList_PlainParse(benchmark::State& state) {
    const std::string& body = CertificateListBody();
    Json::CharReaderBuilder builder;
    for (auto _ : state) {
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        if (!reader->parse(body.data(), body.data() + body.size(), &root, nullptr))
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(root.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_CertificateList_PlainParse)->Unit(benchmark::kMillisecond);

void BM_LargeBase64_InPlace(benchmark::State& state) {
    static KelUrlRetriever transport(0, 0, false, true, true);
    const std::string& body = LargeBody();
    int64_t peakExtra = 0, output = 0;
    for (auto _ : state) {
        int64_t before = malloc_counter::Current();
        malloc_counter::ResetPeak();
        Json::Value answer = DecodeOperationResponse(transport, "GetDocument", body, false, false);
        std::vector<unsigned char> bytes = DecodeBase64Value(answer["Content"]);
        peakExtra = malloc_counter::Peak() - before;
        output = static_cast<int64_t>(bytes.capacity());
        if (bytes.size() != kLargeBytes) state.SkipWithError("wrong size");
    }
    ReportMemory(state, peakExtra, output);
}
BENCHMARK(BM_LargeBase64_InPlace)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LargeBase64_Naive(benchmark::State& state) {
    const std::string& body = LargeBody();
    int64_t peakExtra = 0, output = 0;
    for (auto _ : state) {
        int64_t before = malloc_counter::Current();
        malloc_counter::ResetPeak();
        Json::Reader reader;
        Json::Value answer;
        if (!reader.parse(body, answer)) state.SkipWithError("parse failed");
        std::string text = answer["Content"].asString();
        std::vector<unsigned char> bytes = DecodeBase64(text);
        peakExtra = malloc_counter::Peak() - before;
        output = static_cast<int64_t>(bytes.capacity());
        if (bytes.size() != kLargeBytes) state.SkipWithError("wrong size");
    }
    ReportMemory(state, peakExtra, output);
}
BENCHMARK(BM_LargeBase64_Naive)->Unit(benchmark::kMillisecond)->Iterations(3);

// Keeps the real time and counters of every run for the ratios.
class RatioReporter : public nimbex_bench::RatioReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // CPU time: the machine is shared, so wall time carries other load.
            times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
            for (const auto& c : run.counters) counters_[run.benchmark_name()][c.first] = c.second;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() override {
        auto ratio = [&](const char* what, const std::string& a, const std::string& b) {
            if (times_.count(a) && times_.count(b) && times_[b] > 0)
                std::cout << what << " CPU time: " << times_[a] / times_[b] << "\n";
        };
        std::cout << "\nRatios (same run):\n";
        ratio("certificate list decode / plain JsonCpp parse,", "BM_CertificateList_Decode",
              "BM_CertificateList_PlainParse");
        ratio("100 MiB Base64 answer, in place / naive,", "BM_LargeBase64_InPlace/iterations:3",
              "BM_LargeBase64_Naive/iterations:3");
        const std::string in = "BM_LargeBase64_InPlace/iterations:3";
        const std::string naive = "BM_LargeBase64_Naive/iterations:3";
        if (counters_.count(in) && counters_.count(naive)) {
            std::cout << "100 MiB Base64 answer, in place / naive, peak extra memory: "
                      << counters_[in]["peak_extra_MiB"] / counters_[naive]["peak_extra_MiB"]
                      << "\n"
                      << "  peak in units of the text size: in place "
                      << counters_[in]["peak_in_texts"] << ", naive "
                      << counters_[naive]["peak_in_texts"] << "\n";
        }
    }

  private:
    std::map<std::string, double> times_;
    std::map<std::string, std::map<std::string, double>> counters_;
};

}  // namespace

int main(int argc, char** argv) {
    RatioReporter reporter;
    return nimbex_bench::RunBenchmarks(argc, argv, reporter);
}
