// Signing and the document store against the local service over HTTPS (request signatures
// required), both generations, with and without confirmation: requests from the service's log,
// signatures verified with OpenSSL; refusals of signing and key agreement. Key agreement itself
// is checked through the module (ReaderSigningTest).
#include <gtest/gtest.h>
#include <json/json.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <regex>

#include "KelAssertions.h"
#include "KelContainerConnectorTestPeer.h"
#include "LocalService.h"
#include "TestCertificates.h"
#include "base/ErrorCodes.h"
#include "operations/KelContainerConnector.h"
#include "protocol/DocumentStoreRequests.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/SignatureRequests.h"
#include "protocol/TextEncoding.h"

namespace {

typedef std::vector<unsigned char> Bytes;
#define WORDS uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t
uint32_t Hmac(WORDS, uintptr_t, const unsigned char* key, uintptr_t keyLength,
              const unsigned char* data, uintptr_t size, unsigned char* out, uint32_t*) {
    return HMAC(EVP_sha256(), key, int(keyLength), data, size, out, nullptr) ? 0 : 1;
}
uint32_t Random(WORDS, unsigned char* out, uintptr_t n) {
    return RAND_bytes(out, int(n)) == 1 ? 0 : 1;
}
std::string B64(const Bytes& b) {
    return EncodeBase64(b.data(), b.size());
}

// The requests the tests expect, by their exact line.
const std::map<std::string, std::string> kRequests = {
    {"POST /local-v1/rest/api/documents", "sign"},
    {"POST /local-v2/rest/api/v2/signature", "sign"},
    {"POST /local-v2-docs/api/documents", "upload"},
    {"GET /local-v2-docs/api/documents/{id}/content", "get"},
    {"DELETE /local-v2-docs/api/documents/{id}", "delete"},
    {"POST /local-v1/rest/api/transactions", "transaction"},
    {"POST /local-v1-auth/confirmation", "confirm"},
    {"POST /local-v2-auth/v2.0/confirmation", "confirm"},
    {"POST /local-v1/rest/api/keys/agree", "agree"},
    {"GET /local-v1/rest/api/apiversion", "version"}};

class SigningService : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("NIMBEX_CA_FILE", service.caFile().c_str(), 1);
        host.callbacks.hmac = Hmac;
        host.callbacks.random = Random;
    }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

    // A signed-in connector with the policy fetched and an empty request log.
    boost::shared_ptr<KelContainerConnector> Connect(const std::string& name, bool confirm) {
        Json::Value settings;
        settings["requireMessageSignature"] = true;
        settings["confirmation"]["polls"] = 0;
        settings["policy"]["mfa"]["SignDocument"] = confirm;
        settings["policy"]["mfa"]["PrivateKeyAccess"] = confirm;
        service.configure(settings);
        const nimbex_test::LocalServiceUrls& urls = service.service(name);
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetSilent(true);
        c->SetCredentials("demo", "demo-password");
        c->SetMessageSignatureCreator(MakeMessageSignatureCreator(&host));
        KelContainerConnectorTestPeer(*c).SetPause([](unsigned) {});
        c->IsMfaRequired("SignDocument");
        service.reset();
        return c;
    }
    // The requests since the last reset, each named by kRequests (else by its line).
    std::string Sequence() {
        std::string out;
        for (const Json::Value& r : service.requestLog()) {
            const std::string path =
                std::regex_replace(r["path"].asString(), std::regex("doc-[\\w-]+"), "{id}");
            const std::string line = r["method"].asString() + " " + path;
            out += (out.empty() ? "" : " ") + (kRequests.count(line) ? kRequests.at(line) : line);
        }
        return out;
    }
    size_t StoredDocuments() {
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(service.stateDir() + "/documents"))
            n += e.path().filename().string().rfind("doc-", 0) == 0;
        return n;
    }

    nimbex_test::LocalService service;
    HostContext host{};
};

struct SignCase {
    const char* service;
    bool confirm;
    uint32_t key;   // 1 RSA, 2 ECDSA
    bool document;  // a whole document (algorithm 0), else its SHA-256
    bool display;
    const char* requests;  // of the second signature (the first left a confirmation token)
};
class SignTest : public SigningService, public ::testing::WithParamInterface<SignCase> {};

TEST_P(SignTest, SignsAndLeavesNothingInTheStore) {
    const SignCase t = GetParam();
    const bool v2 = std::string(t.service) == "local-v2";
    auto c = Connect(t.service, t.confirm);
    const Bytes document = {'d', 'o', 'c', '"', 0}, display = {'s', 'e', 'e', 0xFF};
    const Bytes hash = nimbex_test::DigestOf(EVP_sha256(), document);
    const Bytes data = t.document ? document : hash;
    const uint32_t alg = t.document ? 0 : 0x800C;
    Bytes signature(600, 0xEE);
    uint32_t length = 0, capacity = 0;
    auto sign = [&](unsigned char* out, uint32_t* size) {
        c->Sign(t.key, data.data(), uint32_t(data.size()), alg, "1234", out, size, t.document,
                t.display ? display.data() : nullptr, t.display ? 4 : 0);
    };
    sign(nullptr, &length);  // the length only
    service.reset();
    sign(signature.data(), &(capacity = length));
    ASSERT_EQ(capacity, length);
    EXPECT_EQ(signature[length], 0xEE);
    signature.resize(length);
    EXPECT_TRUE(nimbex_test::VerifiesSha256(c->GetCertificate(t.key).certificate, hash, signature));

    const Json::Value log = service.requestLog();  // the certificate's GET last
    const size_t deletions = t.display ? 3 : 2, last = log.size() - 2;
    EXPECT_EQ(Sequence(), std::string(t.requests) + " GET /" + t.service +
                              "/rest/api/certificates/" + std::to_string(t.key));
    const Json::Value& request = log[Json::ArrayIndex(v2 ? last - deletions - 1 : last)];
    Json::Value expected, parameters;
    if (v2) {  // the deletions name the data, the display document and the signature in turn
        auto id = [&](size_t i) { return log[Json::ArrayIndex(i)]["path"].asString().substr(29); };
        expected["BinaryData"][0]["RefId"] = id(last - deletions + 1);
        if (t.display) expected["BinaryData"][0]["RelatedRefId"] = id(last - 1);
        EXPECT_EQ(id(last - deletions), id(last) + "/content");
        EXPECT_EQ(log[0]["bodyBase64"].asString(), B64(data));  // a hash that is no UTF-8
        EXPECT_EQ(log[0]["headers"]["vlkel-postdoc"].asString(), MakeUploadMetadata(32));
        EXPECT_EQ(StoredDocuments(), 0u);
    } else if (!t.confirm) {
        expected["Content"] = B64(data);
        expected["Name"] = kSignedDocumentName;
    }
    if (!t.document) parameters["Hash"] = "True";
    if (alg) parameters["HashAlgorithm"] = alg;
    expected["Signature"]["PinCode"] = "1234";
    if (v2 || !t.confirm) {
        expected["Signature"]["CertificateId"] = t.key;
        expected["Signature"]["Type"] = 1;
        expected["Signature"]["Parameters"] = parameters;
    }
    const std::string body = Json::FastWriter().write(expected);
    EXPECT_EQ(request["body"].asString(), body);
    EXPECT_EQ(request["headers"]["authorization"].asString(),
              "Bearer " + std::string(c->AccessToken().value));
    EXPECT_EQ(request["headers"]["content-length"].asString(), std::to_string(body.size()));
    EXPECT_EQ(request["headers"]["vl-signature"].asString().rfind(
                  "headers=\"(request-target) authorization content-type content-length\"", 0),
              0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignTest,
    ::testing::Values(
        SignCase{"local-v1", false, 1, false, false, "sign"},
        SignCase{"local-v1", false, 2, true, true, "sign"},
        SignCase{"local-v1", true, 2, false, true, "transaction confirm sign"},
        SignCase{"local-v1", true, 1, true, false, "transaction confirm sign"},
        SignCase{"local-v2", false, 1, false, false, "upload sign get delete delete"},
        SignCase{"local-v2", false, 2, false, true, "upload upload sign get delete delete delete"},
        SignCase{"local-v2", true, 1, false, true,
                 "upload upload sign confirm sign get delete delete delete"},
        SignCase{"local-v2", true, 2, false, false, "upload sign confirm sign get delete delete"}));

TEST_F(SigningService, Refusals) {
    const Bytes hash(32, 7);
    uint32_t small = 10;
    Bytes buffer(10, 0xEE);
    const struct {
        const char* service;
        uint32_t key, algId;  // agreement when algId is not 0
        const char* pin;
        std::string fault, faultPath;  // the answer to the next request of that path
        uint32_t code;
        const char* message;  // its end
        const char* requests;
        size_t stored;  // documents left in the store
    } cases[] = {
        {"local-v2", 2, 0, "0000", "", "", codes::kWrongPin, "", "upload sign", 1},
        {"local-v2", 2, 0, "1234", "", "", codes::kFail, "The document does not fit the buffer.",
         "upload sign get delete delete", 0},
        {"local-v1", 1, 0, "1234", "", "", codes::kFail, "The signature is not a Base64 string.",
         "sign", 0},
        {"local-v1", 1, 0, "1234", "5", "", codes::kFail, "The signature is not a string.", "sign",
         0},
        {"local-v2", 1, 0, "1234", "{\"Id\":\"x\"}", "", codes::kFail,
         "operation response is a wrong JSON.", "upload", 0},
        {"local-v2", 1, 0, "1234",
         R"({"Operation":{"Status":"Completed","Result":{"ProcessedDocuments":[{"Error":"invalid_pin"}]}}})",
         "signature", codes::kWrongPin, "invalid_pin", "upload sign", 1},
        {"local-v1", 1, 1, "", "", "", codes::kBadKeyset, "", "agree", 0},
        {"local-v1", 2, 26146, "", "", "", codes::kNotSupported,
         "The server does not support long VKO key creation", "version", 0},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.message + std::to_string(t.key));
        service.resetState();
        auto c = Connect(t.service, false);
        if (!t.fault.empty()) service.injectFault({1, 200, t.fault, false, 0, t.faultPath});
        const KelException e = nimbex_test::CaughtKelException([&] {
            if (!t.algId)
                return c->Sign(t.key, hash.data(), 32, 0, t.pin, buffer.data(), &small, false,
                               nullptr, 0);
            c->AgreeKey(t.key, hash.data(), 32, nullptr, 0, nullptr, 0, "", t.algId, nullptr,
                        nullptr);
        });
        EXPECT_EQ(e.code(), t.code);
        EXPECT_TRUE(nimbex_test::EndsWith(e.what(), t.message)) << e.what();
        EXPECT_EQ(Sequence(), t.requests);
        EXPECT_EQ(StoredDocuments(), t.stored);
        EXPECT_TRUE(buffer == Bytes(10, 0xEE) && small == 10u);
    }
}

}  // namespace
