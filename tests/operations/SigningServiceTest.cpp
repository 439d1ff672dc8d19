// Refusals of signing and key agreement against the local service over HTTPS: the code, the
// message, the requests from the service's log and what is left in the document store. Signing
// and key agreement themselves, their exact requests included, are checked through the module
// (ReaderSigningTest).
#include <gtest/gtest.h>
#include <json/json.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <regex>

#include "KelAssertions.h"
#include "LocalService.h"
#include "base/ErrorCodes.h"
#include "operations/KelContainerConnector.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// The requests the tests expect, by their exact line.
const std::map<std::string, std::string> kRequests = {
    {"POST /local-v1/rest/api/documents", "sign"},
    {"POST /local-v2/rest/api/v2/signature", "sign"},
    {"POST /local-v2-docs/api/documents", "upload"},
    {"GET /local-v2-docs/api/documents/{id}/content", "get"},
    {"DELETE /local-v2-docs/api/documents/{id}", "delete"},
    {"POST /local-v1/rest/api/keys/agree", "agree"},
    {"GET /local-v1/rest/api/apiversion", "version"}};

class SigningService : public ::testing::Test {
  protected:
    void SetUp() override { setenv("NIMBEX_CA_FILE", service.caFile().c_str(), 1); }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

    // A signed-in connector with the policy fetched and an empty request log.
    boost::shared_ptr<KelContainerConnector> Connect(const std::string& name) {
        const nimbex_test::LocalServiceUrls& urls = service.service(name);
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetSilent(true);
        c->SetCredentials("demo", "demo-password");
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
};

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
        auto c = Connect(t.service);
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
