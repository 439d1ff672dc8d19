// Signing through the connector against the local signature service, each
// figure against raw libcurl sending the same requests in the same run:
//
// - signatures per second with small hashes over one reused connection, for
//   both request generations; the requests of every signature are read back
//   from the service's log and must be exactly those of one signature (no
//   policy fetch, no sign-in, no renewal), and the connections open before
//   the loop must be those open after it (no reconnect);
// - a 100 MiB document through the version 2 upload, a version 2 signature
//   with it as display document and a version 1 signature with it in the
//   body: throughput, and how far the client's resident set grows above what
//   it held before (in units of the document), measured in a forked child per
//   run (the peak is reset through /proc/self/clear_refs).
//
// The ratios and the targets are printed after the table.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <dirent.h>
#include <linux/perf_event.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "LocalService.h"
#include "RatioReporter.h"
#include "Samples.h"
#include "base/HostCallbacks.h"
#include "base/KelException.h"
#include "operations/KelContainerConnector.h"
#include "protocol/DocumentStoreRequests.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/SignatureRequests.h"
#include "transport/KelUrlRetriever.h"

namespace {

typedef std::vector<unsigned char> Bytes;

const size_t kLargeDocument = size_t(100) << 20;
const uint32_t kEcKey = 2;
const uint32_t kSha256 = 0x800C;
const char kPin[] = "1234";

#define CALLER_WORDS uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t

// The host's HMAC-SHA-256 and random callbacks, as a CSP provides them (the
// digest fetched once and its context reused, as a host keeps them).
uint32_t Hmac(CALLER_WORDS, uintptr_t, const unsigned char* key, uintptr_t keyLength,
              const unsigned char* data, uintptr_t size, unsigned char* out, uint32_t*) {
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    static EVP_MD_CTX* const ctx = EVP_MD_CTX_new();
    if (keyLength > 64) return 1;
    unsigned char pad[64], inner[32];
    unsigned n = 0;
    for (size_t i = 0; i < 64; ++i) pad[i] = (i < keyLength ? key[i] : 0) ^ 0x36;
    bool ok = EVP_DigestInit_ex2(ctx, sha256, nullptr) == 1 &&
              EVP_DigestUpdate(ctx, pad, 64) == 1 && EVP_DigestUpdate(ctx, data, size) == 1 &&
              EVP_DigestFinal_ex(ctx, inner, &n) == 1;
    for (size_t i = 0; i < 64; ++i) pad[i] ^= 0x36 ^ 0x5C;
    ok = ok && EVP_DigestInit_ex2(ctx, sha256, nullptr) == 1 &&
         EVP_DigestUpdate(ctx, pad, 64) == 1 && EVP_DigestUpdate(ctx, inner, 32) == 1 &&
         EVP_DigestFinal_ex(ctx, out, &n) == 1;
    return ok ? 0 : 1;
}
uint32_t Random(CALLER_WORDS, unsigned char* out, uintptr_t n) {
    return RAND_bytes(out, int(n)) == 1 ? 0 : 1;
}

struct Env {
    nimbex_test::LocalService service;
    HostContext host{};
    unsigned port = 0;
    Bytes hash;
    Env() : hash(32) {
        setenv("NIMBEX_CA_FILE", service.caFile().c_str(), 1);
        host.callbacks.hmac = Hmac;
        host.callbacks.random = Random;
        port = service.readyLine()["port"].asUInt();
        RAND_bytes(hash.data(), int(hash.size()));
    }
};

Env& Shared() {
    static Env env;
    return env;
}

// A connector of the service signed in, with the policy fetched and a request
// signer over the host callbacks above.
boost::shared_ptr<KelContainerConnector> Connect(const std::string& name, bool signer = true) {
    const nimbex_test::LocalServiceUrls& urls = Shared().service.service(name);
    auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
    c->SetTimeout(65535);
    c->SetSilent(true);
    c->SetCredentials("demo", "demo-password");
    if (signer) c->SetMessageSignatureCreator(MakeMessageSignatureCreator(&Shared().host));
    c->IsMfaRequired("SignDocument");
    return c;
}

void SignHash(KelContainerConnector& c) {
    unsigned char signature[64];
    uint32_t length = sizeof signature;
    c.Sign(kEcKey, Shared().hash.data(), 32, kSha256, kPin, signature, &length, false, nullptr, 0);
    if (length != 64) throw std::runtime_error("the signature is not 64 bytes long");
}

// Local ports of this process's established connections to the service.
std::set<unsigned> OwnConnections() {
    std::set<std::string> inodes;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(dir)) {
            char target[64];
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            const std::string t(target, size_t(n));
            if (t.rfind("socket:[", 0) == 0) inodes.insert(t.substr(8, t.size() - 9));
        }
        closedir(dir);
    }
    std::set<unsigned> ports;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string sl, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> sl >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            const auto port = [](const std::string& a) {
                return unsigned(std::stoul(a.substr(a.rfind(':') + 1), nullptr, 16));
            };
            if (state == "01" && inodes.count(inode) && port(remote) == Shared().port)
                ports.insert(port(local));
        }
    }
    return ports;
}

// Connections that closed or opened between the two looks.
size_t Changed(const std::set<unsigned>& before, const std::set<unsigned>& after) {
    size_t n = 0;
    for (unsigned p : after) n += before.count(p) == 0;
    for (unsigned p : before) n += after.count(p) == 0;
    return n;
}

// What is wrong with the service's log after `n` signatures of `pattern`
// ("METHOD path", document ids as "{id}"); empty when nothing is.
std::string CheckRequests(size_t n, const std::vector<std::string>& pattern, double& perSignature) {
    const Json::Value log = Shared().service.requestLog();
    perSignature = n ? double(log.size()) / double(n) : 0;
    if (log.size() != n * pattern.size())
        return std::to_string(perSignature) + " requests per signature, expected " +
               std::to_string(pattern.size());
    static const std::regex id("doc-[\\w-]+");
    for (Json::ArrayIndex i = 0; i < log.size(); ++i) {
        const std::string seen = log[i]["method"].asString() + " " +
                                 std::regex_replace(log[i]["path"].asString(), id, "{id}");
        if (seen != pattern[i % pattern.size()])
            return "request " + std::to_string(i) + " is \"" + seen + "\", expected \"" +
                   pattern[i % pattern.size()] + "\"";
    }
    return std::string();
}

const std::vector<std::string>& Pattern(bool v2) {
    static const std::vector<std::string> v1 = {"POST /local-v1/rest/api/documents"};
    static const std::vector<std::string> withStore = {
        "POST /local-v2-docs/api/documents", "POST /local-v2/rest/api/v2/signature",
        "GET /local-v2-docs/api/documents/{id}/content", "DELETE /local-v2-docs/api/documents/{id}",
        "DELETE /local-v2-docs/api/documents/{id}"};
    return v2 ? withStore : v1;
}

using nimbex_bench::Median;
using nimbex_bench::Samples;

const int kCountedSignatures = 100;

// Signatures through the connector against the same requests sent by raw
// libcurl. First the connector signs alone and its requests and connections
// are checked; then the two take turns, one signature each per iteration (in
// alternating order, so that the load of the shared machine falls on both),
// and the medians are compared.
void Compare(benchmark::State& state, bool v2, const std::function<void()>& connector,
             const std::function<void()>& raw, const std::function<void()>& transport = nullptr) {
    try {
        connector();  // the connections open
        raw();
        if (transport) transport();
        Shared().service.reset();
        const std::set<unsigned> before = OwnConnections();
        for (int i = 0; i < kCountedSignatures; ++i) connector();
        const size_t changed = before.empty() ? 1 : Changed(before, OwnConnections());
        double perSignature = 0;
        std::string wrong = CheckRequests(kCountedSignatures, Pattern(v2), perSignature);
        if (changed != 0) wrong += (wrong.empty() ? "" : "; ") + std::string("a reconnect");
        state.counters["requests_per_signature"] = perSignature;
        state.counters["connections_changed"] = double(changed);
        if (!wrong.empty()) {
            state.SkipWithError(wrong.c_str());
            return;
        }
        // Each iteration times every contender once, starting with another
        // one each time.
        const std::vector<const std::function<void()>*> contenders = {&connector, &raw, &transport};
        const size_t n = transport ? 3 : 2;
        std::vector<Samples> samples(n);
        size_t first = 0;
        for (auto _ : state) {
            for (size_t k = 0; k < n; ++k) {
                const size_t i = (first + k) % n;
                samples[i].Time(*contenders[i]);
            }
            first = (first + 1) % n;
            state.SetIterationTime(samples[0].wall.back() / 1e6);
        }
        state.counters["connector_us"] = Median(samples[0].wall);
        state.counters["libcurl_us"] = Median(samples[1].wall);
        state.counters["wall_ratio"] = Median(samples[0].wall) / Median(samples[1].wall);
        state.counters["cpu_ratio"] = Median(samples[0].cpu) / Median(samples[1].cpu);
        state.counters["client_cpu_us"] = Median(samples[0].cpu);
        state.counters["libcurl_cpu_us"] = Median(samples[1].cpu);
        if (transport) {
            state.counters["transport_us"] = Median(samples[2].wall);
            state.counters["transport_cpu_us"] = Median(samples[2].cpu);
            state.counters["transport_cpu_ratio"] = Median(samples[2].cpu) / Median(samples[1].cpu);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

// Raw libcurl on one easy handle, set up afresh for every request as the
// platform client does; the handle keeps its connection.
class Raw {
  public:
    Raw() : curl_(curl_easy_init()) {}
    ~Raw() { curl_easy_cleanup(curl_); }
    Raw(const Raw&) = delete;
    Raw& operator=(const Raw&) = delete;

    // The answer of a request, or an exception for a transfer failure or an
    // HTTP status other than 200.
    const std::string& Send(const std::string& url, const std::vector<std::string>& headers,
                            const char* body = nullptr, size_t size = 0,
                            const char* method = nullptr) {
        answer_.clear();
        curl_easy_reset(curl_);
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_CAINFO, Shared().service.caFile().c_str());
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Raw::Collect);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &answer_);
        curl_slist* list = curl_slist_append(nullptr, "Expect:");
        for (const std::string& h : headers) list = curl_slist_append(list, h.c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, list);
        if (body) {
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body);
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(size));
        }
        if (method) curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method);
        // The module's client offers compressed answers (its client flag is
        // set); so does this one, so that both get the same answers.
        curl_easy_setopt(curl_, CURLOPT_ACCEPT_ENCODING, "");
        const CURLcode rc = curl_easy_perform(curl_);
        long status = 0, opened = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &opened);
        connects += opened;
        curl_slist_free_all(list);
        if (rc != CURLE_OK || status != 200)
            throw std::runtime_error("raw request failed: " + std::string(curl_easy_strerror(rc)) +
                                     ", status " + std::to_string(status) + ": " + answer_);
        return answer_;
    }

    long connects = 0;  // connections opened so far

  private:
    static size_t Collect(char* data, size_t size, size_t n, void* user) {
        static_cast<std::string*>(user)->append(data, size * n);
        return size * n;
    }
    CURL* curl_;
    std::string answer_;
};

// The text of the string member `name` in a small JSON answer.
std::string Member(const std::string& answer, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const size_t at = answer.find(key);
    if (at == std::string::npos) throw std::runtime_error("no " + name + " in " + answer);
    const size_t begin = at + key.size();
    return answer.substr(begin, answer.find('"', begin) - begin);
}

std::string Bearer(KelContainerConnector& c) {
    return "Authorization: Bearer " + std::string(c.AccessToken().value);
}

std::vector<std::string> UploadHeaders(KelContainerConnector& c, size_t size) {
    return {Bearer(c), "Content-Type: application/octet-stream; charset=utf-8",
            "cache-control: no-cache", "VLKEL-POSTDOC: " + MakeUploadMetadata(size)};
}

std::vector<std::string> JsonHeaders(KelContainerConnector& c, const std::string& body) {
    return {Bearer(c), "Content-Type: application/json; charset=utf-8",
            "Content-Length: " + std::to_string(body.size())};
}

// ---- signatures per second

// Version 1: the connector's own request, captured from the log, is what
// libcurl sends again and again.
void BM_SignV1(benchmark::State& state) {
    auto c = Connect("local-v1");
    Shared().service.reset();
    SignHash(*c);
    const Json::Value sent = Shared().service.requestLog()[0];
    const std::string body = sent["body"].asString();
    std::vector<std::string> headers = JsonHeaders(*c, body);
    if (sent["headers"].isMember("vl-signature"))
        headers.push_back("VL-Signature: " + sent["headers"]["vl-signature"].asString());
    const std::string url = Shared().service.service("local-v1").sign + "/rest/api/documents";
    Raw raw;
    Compare(
        state, false, [&] { SignHash(*c); },
        [&] {
            if (raw.Send(url, headers, body.data(), body.size()).size() < 80)
                throw std::runtime_error("no signature");
        });
}

// The same without a request signer (no "VL-Signature", so no host HMAC),
// with the captured request also sent through the module's transport alone:
// how the connector's cost splits between the transport and the rest.
void BM_SignV1_Unsigned(benchmark::State& state) {
    auto c = Connect("local-v1", false);
    Shared().service.reset();
    SignHash(*c);
    const std::string body = Shared().service.requestLog()[0]["body"].asString();
    const std::vector<std::string> headers = JsonHeaders(*c, body);
    const std::string url = Shared().service.service("local-v1").sign + "/rest/api/documents";
    KelUrlRetriever transport(0, 0, false, true, true);
    const std::vector<SecretString> secretHeaders(headers.begin(), headers.end());
    Raw raw;
    Compare(
        state, false, [&] { SignHash(*c); },
        [&] {
            if (raw.Send(url, headers, body.data(), body.size()).size() < 80)
                throw std::runtime_error("no signature");
        },
        [&] {
            if (transport.Request(url, secretHeaders, body).size() < 80)
                throw std::runtime_error("no signature");
        });
}

// Version 2: the same five requests, the bodies made for each signature (the
// upload's id goes into the signing request); libcurl sends no request
// signature.
void BM_SignV2(benchmark::State& state) {
    auto c = Connect("local-v2");
    const nimbex_test::LocalServiceUrls& urls = Shared().service.service("local-v2");
    const std::string docs = urls.docstore + "/api/documents";
    const std::string sign = urls.sign + "/rest/api/v2/signature";
    const std::vector<std::string> upload = UploadHeaders(*c, 32);
    const std::vector<std::string> plain = {Bearer(*c), "cache-control: no-cache"};
    const std::vector<std::string> content = {Bearer(*c), "Connection: keep-alive",
                                              "cache-control: no-cache"};
    const Bytes& hash = Shared().hash;
    Raw raw;
    Compare(
        state, true, [&] { SignHash(*c); },
        [&] {
            const std::string dataId =
                Member(raw.Send(docs, upload, reinterpret_cast<const char*>(hash.data()), 32),
                       "DocumentId");
            const std::string body(MakeSignRequestV2(kEcKey, kSha256, kPin, dataId, ""));
            const std::string signatureId =
                Member(raw.Send(sign, JsonHeaders(*c, body), body.data(), body.size()), "RefId");
            if (raw.Send(docs + "/" + signatureId + "/content", content).size() != 64)
                throw std::runtime_error("no signature");
            raw.Send(docs + "/" + dataId, plain, nullptr, 0, "DELETE");
            raw.Send(docs + "/" + signatureId, plain, nullptr, 0, "DELETE");
        });
}

// ---- a 100 MiB document

const Bytes& LargeDocument() {
    static const Bytes doc = [] {
        Bytes d(kLargeDocument);
        uint32_t x = 12345;
        for (unsigned char& b : d)
            b = static_cast<unsigned char>((x = x * 1103515245 + 12345) >> 24);
        return d;
    }();
    return doc;
}

long StatusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, std::strlen(field), field) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

struct Measurement {
    double seconds = 0;
    double growthBytes = 0;
    char error[512] = {};
};

// Runs op in a forked child: its wall time, and how far the child's resident
// set peaked above what it held just before (the document, made before the
// fork, already counts in that).
Measurement MeasureInChild(const std::function<void()>& op) {
    Measurement m;
    int fds[2];
    if (pipe(fds) != 0) {
        std::snprintf(m.error, sizeof m.error, "no pipe");
        return m;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        try {
            const long base = StatusKiB("VmRSS:");
            std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts from here
            const auto start = std::chrono::steady_clock::now();
            op();
            m.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            m.growthBytes = double(StatusKiB("VmHWM:") - base) * 1024;
        } catch (const std::exception& e) {
            std::snprintf(m.error, sizeof m.error, "%s", e.what());
        }
        if (write(fds[1], &m, sizeof m) != ssize_t(sizeof m)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    if (pid < 0 || read(fds[0], &m, sizeof m) != ssize_t(sizeof m))
        std::snprintf(m.error, sizeof m.error, "the measuring child failed");
    close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return m;
}

// Runs `ours` (and `theirs`, when given) in forked children per iteration,
// in alternating order, and reports median times, throughput and the largest
// growth of the resident set in units of the document.
void LargeCompare(benchmark::State& state, const std::function<void()>& ours,
                  const std::function<void()>& theirs = nullptr) {
    LargeDocument();
    std::vector<double> oursSeconds, theirsSeconds;
    double oursPeak = 0, theirsPeak = 0;
    bool oursFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool isOurs = (turn == 0) == oursFirst;
            if (!isOurs && !theirs) continue;
            const Measurement m = MeasureInChild(isOurs ? ours : theirs);
            if (m.error[0]) {
                state.SkipWithError(m.error);
                return;
            }
            (isOurs ? oursSeconds : theirsSeconds).push_back(m.seconds);
            double& peak = isOurs ? oursPeak : theirsPeak;
            peak = std::max(peak, m.growthBytes / double(kLargeDocument));
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(oursSeconds.back());
    }
    const double mib = double(kLargeDocument) / (1 << 20);
    state.counters["connector_MiB_s"] = mib / Median(oursSeconds);
    state.counters["connector_peak_growth"] = oursPeak;
    if (!theirs) return;
    state.counters["libcurl_MiB_s"] = mib / Median(theirsSeconds);
    state.counters["libcurl_peak_growth"] = theirsPeak;
    state.counters["time_ratio"] = Median(oursSeconds) / Median(theirsSeconds);
}

// The version 2 upload against libcurl posting the same bytes with the same
// header lines.
void BM_Large_UploadV2(benchmark::State& state) {
    auto c = Connect("local-v2");
    const std::string url = Shared().service.service("local-v2").docstore + "/api/documents";
    LargeCompare(
        state,
        [&] {
            if (c->UploadDocument(LargeDocument().data(), kLargeDocument).empty())
                throw std::runtime_error("no document id");
        },
        [&] {
            Raw raw;
            Member(raw.Send(url, UploadHeaders(*c, kLargeDocument),
                            reinterpret_cast<const char*>(LargeDocument().data()), kLargeDocument),
                   "DocumentId");
        });
}

// The document as the display document of a signed hash: two uploads, the
// signing request, the signature's download and three deletions.
void BM_Large_SignV2(benchmark::State& state) {
    auto c = Connect("local-v2");
    LargeCompare(state, [&] {
        unsigned char signature[64];
        uint32_t length = sizeof signature;
        c->Sign(kEcKey, Shared().hash.data(), 32, kSha256, kPin, signature, &length, false,
                LargeDocument().data(), uint32_t(kLargeDocument));
    });
}

// The document in the body of a signed version 1 request, against libcurl
// posting the same body made before the measurement.
void BM_Large_SignV1(benchmark::State& state) {
    auto c = Connect("local-v1");
    const std::string body(
        MakeSignRequestV1(kEcKey, LargeDocument().data(), kLargeDocument, 0, kPin, true));
    const std::string url = Shared().service.service("local-v1").sign + "/rest/api/documents";
    LargeCompare(
        state,
        [&] {
            unsigned char signature[64];
            uint32_t length = sizeof signature;
            c->Sign(kEcKey, LargeDocument().data(), uint32_t(kLargeDocument), 0, kPin, signature,
                    &length, true, nullptr, 0);
        },
        [&] {
            Raw raw;
            if (raw.Send(url, JsonHeaders(*c, body), body.data(), body.size()).size() < 80)
                throw std::runtime_error("no signature");
        });
}

BENCHMARK(BM_SignV1)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignV1_Unsigned)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignV2)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Large_UploadV2)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_SignV2)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_SignV1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

class RatioReporter : public nimbex_bench::RatioReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.benchmark_name().substr(0, run.benchmark_name().find('/'));
            for (const auto& counter : run.counters)
                values_[name + "." + counter.first] = counter.second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() override {
        std::cout << "\nRatios and targets (same run):\n";
        Line("version 1 signature, connector / libcurl, median wall time", "BM_SignV1.wall_ratio",
             1.10);
        Line("version 1 signature, connector / libcurl, median CPU time", "BM_SignV1.cpu_ratio", 0);
        Line("requests per version 1 signature", "BM_SignV1.requests_per_signature", 0);
        Line("version 1 signature without request signer, connector / libcurl, median wall time",
             "BM_SignV1_Unsigned.wall_ratio", 1.10);
        Line("  the same, median CPU time", "BM_SignV1_Unsigned.cpu_ratio", 0);
        Line("  the module's transport alone / libcurl, median CPU time",
             "BM_SignV1_Unsigned.transport_cpu_ratio", 0);
        Line("version 2 signature, connector / libcurl, median wall time", "BM_SignV2.wall_ratio",
             1.10);
        Line("version 2 signature, connector / libcurl, median CPU time", "BM_SignV2.cpu_ratio", 0);
        Line("requests per version 2 signature", "BM_SignV2.requests_per_signature", 0);
        Line("100 MiB version 2 upload, connector / libcurl time", "BM_Large_UploadV2.time_ratio",
             2.0);
        Line("100 MiB version 2 upload, connector peak growth / document",
             "BM_Large_UploadV2.connector_peak_growth", 1.5);
        Line("100 MiB version 2 upload, libcurl peak growth / document",
             "BM_Large_UploadV2.libcurl_peak_growth", 0);
        Line("100 MiB version 2 signature (display document), peak growth / document",
             "BM_Large_SignV2.connector_peak_growth", 1.5);
        Line("100 MiB version 1 signature, connector / libcurl with the body made before, time",
             "BM_Large_SignV1.time_ratio", 0);
        Line("100 MiB version 1 signature, connector peak growth / document",
             "BM_Large_SignV1.connector_peak_growth", 3.0);
    }

  private:
    void Line(const char* what, const std::string& key, double limit) {
        if (!values_.count(key)) return;
        const double value = values_[key];
        std::cout << "  " << what << ": " << value;
        if (limit > 0)
            std::cout << (value <= limit ? "  (target <= " : "  (MISSED: target <= ") << limit
                      << ")";
        std::cout << "\n";
    }
    std::map<std::string, double> values_;
};

}  // namespace

int main(int argc, char** argv) {
    RatioReporter reporter;
    return nimbex_bench::RunBenchmarks(argc, argv, reporter);
}
