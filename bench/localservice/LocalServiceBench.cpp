// Small GETs to the local signature service over one reused HTTPS connection, against the
// same GETs to a bare HTTPS server (same library, same certificate, TCP_NODELAY) in this
// process, and against a new connection (TLS handshake) per request. A reused connection
// must cost about what it costs on the bare server and far less than a handshake: an
// answer held back until the client's delayed ACK (about 40 ms) or a connection closed
// every few requests shows up in the ratios printed after the table.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "LocalService.h"
#include "RatioReporter.h"

namespace {

// The bare server: one route, keep-alive without a request limit, no Nagle delay.
class BareServer {
  public:
    BareServer(const std::string& cert, const std::string& key)
        : server_(cert.c_str(), key.c_str()) {
        server_.set_tcp_nodelay(true);
        server_.set_keep_alive_max_count(100000);
        server_.Get("/ping", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("2", "text/plain; charset=utf-8");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~BareServer() {
        server_.stop();
        thread_.join();
    }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/ping"; }

  private:
    httplib::SSLServer server_;
    int port_ = -1;
    std::thread thread_;
};

struct Fixture {
    nimbex_test::LocalService service;
    BareServer bare{service.stateDir() + "/server.pem", service.stateDir() + "/server-key.pem"};
    std::string serviceUrl = service.service("local-v2").sign + "/rest/api/apiversion";
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

size_t Discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

// Runs one GET per iteration on a single libcurl handle (which keeps its connection unless
// told otherwise) and counts the connections it had to open.
void GetLoop(benchmark::State& state, const std::string& url, bool newConnection) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_CAINFO, Shared().service.caFile().c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    if (newConnection) curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_perform(curl);  // warm-up: CA file, first connection
    long connections = 0;
    for (auto _ : state) {
        long status = 0, opened = 0;
        if (curl_easy_perform(curl) != CURLE_OK ||
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
            state.SkipWithError("the GET failed");
            break;
        }
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &opened);
        connections += opened;
    }
    curl_easy_cleanup(curl);
    state.counters["connections_per_request"] =
        benchmark::Counter(double(connections), benchmark::Counter::kAvgIterations);
}

void BM_ReusedConnection_Service(benchmark::State& state) {
    GetLoop(state, Shared().serviceUrl, false);
}
void BM_ReusedConnection_BareServer(benchmark::State& state) {
    GetLoop(state, Shared().bare.url(), false);
}
void BM_NewConnection_Service(benchmark::State& state) {
    GetLoop(state, Shared().serviceUrl, true);
}

// Wall time: the delays to catch are waits, not work.
BENCHMARK(BM_ReusedConnection_BareServer)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReusedConnection_Service)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NewConnection_Service)->Iterations(100)->UseRealTime()->Unit(benchmark::kMicrosecond);

class RatioReporter : public nimbex_bench::RatioReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            std::string name = run.benchmark_name();
            times_[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() override {
        auto ratio = [&](const char* what, const std::string& a, const std::string& b) {
            if (times_.count(a) && times_.count(b) && times_[b] > 0)
                std::cout << what << " wall time: " << times_[a] / times_[b] << "\n";
        };
        std::cout << "\nRatios (same run):\n";
        ratio("reused connection, service / bare server,", "BM_ReusedConnection_Service",
              "BM_ReusedConnection_BareServer");
        ratio("service, reused connection / new connection,", "BM_ReusedConnection_Service",
              "BM_NewConnection_Service");
    }

  private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    RatioReporter reporter;
    return nimbex_bench::RunBenchmarks(argc, argv, reporter);
}
