// Finding cloud containers in a store of linked certificates: the first
// enumeration of one service (opens and reads the whole store), a later one
// (reuses the link's cache), and container lookups by name, cold and warm.
// Baseline: a raw SQLite scan of the same rows.
//
//   bench_certstore --benchmark_filter=.   (stores of 2,500, 5,000, 10,000)
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <string>

#include "TempEnv.h"
#include "TestCertificates.h"
#include "config/ServerSettings.h"
#include "container/CertificateHandles.h"
#include "container/CloudCertStoreContainer.h"
#include "container/CloudCertStoreContainerEnumerator.h"
#include "container/CloudCertificateLink.h"
#include "container/CloudStoreLink.h"

namespace {

constexpr int kServices = 10;

std::string ServiceName(int i) {
    return "service" + std::to_string(i);
}

ServerSettings Service(int i) {
    return ServerSettings(ServiceName(i), "https://auth" + std::to_string(i) + ".example/",
                          "https://sign" + std::to_string(i) + ".example/api");
}

// A store of `count` linked certificates spread over the services in turn,
// each in its own scratch directory.
class Population {
  public:
    explicit Population(int count) {
        Use();
        for (int s = 0; s < kServices; ++s) SaveServerSettings(Service(s), false);
        StoreHandle store(
            CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My"));
        for (int i = 0; i < count; ++i) {
            const int s = i % kServices;
            auto der = nimbex_test::MakeCertificate(nimbex_test::KeyKind::Ec,
                                                    "cert " + std::to_string(i), i + 1);
            CertContextHandle c(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                             static_cast<DWORD>(der.size())));
            const std::string service = ServiceName(s);
            std::wstring name = L"CLOUD\\" + std::wstring(service.begin(), service.end()) + L"\\c" +
                                std::to_wstring(i);
            std::wstring provider = L"Veltra ECDSA and AES CSP";
            auto blob = CloudLinkParam::FromNumber(kLinkCertificateId, i).Blob();
            CRYPT_KEY_PROV_PARAM param{kCloudLinkParamId, blob.data(),
                                       static_cast<DWORD>(blob.size()), 0};
            CRYPT_KEY_PROV_INFO info{name.data(), provider.data(), 16, 0, 1, &param, 1};
            CertSetCertificateContextProperty(c.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
            CertAddCertificateContextToStore(store.get(), c.get(), CERT_STORE_ADD_NEW, nullptr);
        }
    }
    void Use() const {
        setenv("NIMBEX_USER_DIR", dir_.path().c_str(), 1);
        setenv("NIMBEX_MACHINE_DIR", (dir_.path() + "/machine").c_str(), 1);
    }
    std::string database() const { return dir_.path() + "/certstore.db"; }

  private:
    nimbex_test::TempDir dir_;
};

const Population& Store(int count) {
    static std::map<int, std::unique_ptr<Population>> stores;
    auto& p = stores[count];
    if (!p) p = std::make_unique<Population>(count);
    p->Use();
    return *p;
}

size_t WalkService(CloudStoreLink* link, int service) {
    CloudCertStoreContainerEnumerator e(link, Service(service), false);
    size_t n = 0;
    while (!e.ended()) {
        benchmark::DoNotOptimize(e.next());
        ++n;
    }
    return n;
}

void BM_RawSqliteScan(benchmark::State& state) {
    const Population& p = Store(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(p.database().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT id, der, sha1, subject, key_alg, props FROM certs"
                           " WHERE store = 'MY' ORDER BY id",
                           -1, &st, nullptr);
        size_t bytes = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            bytes += sqlite3_column_bytes(st, 1) + sqlite3_column_bytes(st, 5);
        benchmark::DoNotOptimize(bytes);
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FirstEnumeration(benchmark::State& state) {
    Store(static_cast<int>(state.range(0)));
    size_t found = 0;
    for (auto _ : state) {
        CloudStoreLink link;
        found = WalkService(&link, 3);
    }
    state.counters["found"] = static_cast<double>(found);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LaterEnumeration(benchmark::State& state) {
    Store(static_cast<int>(state.range(0)));
    CloudStoreLink link;
    WalkService(&link, 3);
    for (auto _ : state) benchmark::DoNotOptimize(WalkService(&link, 3));
}

void BM_OpenContainerCold(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Store(count);
    int i = 0;
    for (auto _ : state) {
        const int n = (i++ * 7919) % count;
        CloudStoreLink link;
        CloudCertStoreContainer c("c" + std::to_string(n), &link, Service(n % kServices), false);
        if (c.status() != 0) state.SkipWithError("not found");
    }
}

void BM_OpenContainerWarm(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Store(count);
    CloudStoreLink link;
    WalkService(&link, 0);
    int i = 0;
    for (auto _ : state) {
        const int n = (i++ * 7919) % count;
        CloudCertStoreContainer c("c" + std::to_string(n), &link, Service(n % kServices), false);
        if (c.status() != 0) state.SkipWithError("not found");
    }
}

// What a warm lookup cannot avoid: validating the item's service against the
// stored settings (a registry read).
void BM_FindServerSettings(benchmark::State& state) {
    Store(static_cast<int>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        if (!FindServerSettings(ServiceName(i++ % kServices), kServerParamName).isValid)
            state.SkipWithError("no service");
    }
}

}  // namespace

BENCHMARK(BM_FindServerSettings)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSqliteScan)->Arg(2500)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstEnumeration)->Arg(2500)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaterEnumeration)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenContainerCold)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenContainerWarm)->Arg(10000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
