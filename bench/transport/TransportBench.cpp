// The transport's request path over HTTPS to a server on 127.0.0.1: a reused
// connection, a fresh connection per request, and the first request of a
// newly built transport.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <memory>
#include <set>
#include <string>

#include "LocalService.h"
#include "TestServer.h"
#include "transport/KelUrlRetriever.h"

namespace {

// The server has the certificate the local signature service makes for 127.0.0.1.
struct Fixture {
    nimbex_test::LocalService pki;
    std::unique_ptr<transport_test::TestServer> server;
    std::string url;

    Fixture() {
        setenv("NIMBEX_CA_FILE", pki.caFile().c_str(), 1);
        server.reset(new transport_test::TestServer(pki.stateDir() + "/server.pem",
                                                    pki.stateDir() + "/server-key.pem"));
        url = server->Url("/ping");
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

// Number of distinct client connections the server saw since the last call.
double Connections(Fixture& f) {
    std::set<int> ports;
    for (const auto& r : f.server->Seen()) ports.insert(r.remotePort);
    f.server->ClearSeen();
    return double(ports.size());
}

void RequestLoop(benchmark::State& state, bool keepAlive) {
    Fixture& f = Shared();
    KelUrlRetriever transport(10000, 0, false, keepAlive, true);
    transport.Request(f.url, {}, "");  // warm-up: CA store, first connection
    Connections(f);
    for (auto _ : state) benchmark::DoNotOptimize(transport.Request(f.url, {}, ""));
    state.counters["connections"] = Connections(f);
}

void BM_RequestKeepAlive(benchmark::State& state) {
    RequestLoop(state, true);
}
void BM_RequestFreshConnection(benchmark::State& state) {
    RequestLoop(state, false);
}

// Each iteration builds a new transport and times its first request only.
void BM_FirstRequestOfNewTransport(benchmark::State& state) {
    Fixture& f = Shared();
    KelUrlRetriever(10000, 0, false, true, true).Request(f.url, {}, "");  // warm-up
    Connections(f);
    for (auto _ : state) {
        state.PauseTiming();
        auto transport = std::make_unique<KelUrlRetriever>(10000, 0, false, true, true);
        state.ResumeTiming();
        benchmark::DoNotOptimize(transport->Request(f.url, {}, ""));
        state.PauseTiming();
        transport.reset();
        state.ResumeTiming();
    }
    state.counters["connections"] = Connections(f);
}

// The same including construction and destruction.
void BM_NewTransportWithRequest(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        KelUrlRetriever transport(10000, 0, false, true, true);
        benchmark::DoNotOptimize(transport.Request(f.url, {}, ""));
    }
    state.counters["connections"] = Connections(f);
}

}  // namespace

BENCHMARK(BM_RequestKeepAlive)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstRequestOfNewTransport)->Iterations(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NewTransportWithRequest)->Iterations(100)->Unit(benchmark::kMicrosecond);
// Last: the churn of 1000 connections leaves the test server slower for a while.
BENCHMARK(BM_RequestFreshConnection)->Iterations(1000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
