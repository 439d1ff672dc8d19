// The connector's certificate, key and PIN operations, and its refusals of signing and key
// agreement, against the local signature service over HTTPS, in both protocol generations, with
// and without confirmation; the exact requests are read back from the service's log (an RSA key
// with its length and no PIN: ReaderSigningTest, through the module).
// data/: one P-256 key as key.pfx (certificate first.der, alias "Imported",
// password "pfx&pw") and second.der, another certificate for the same key.
#include <gtest/gtest.h>
#include <json/json.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>

#include "KelAssertions.h"
#include "KelContainerConnectorTestPeer.h"
#include "LocalService.h"
#include "base/ErrorCodes.h"
#include "operations/KelContainerConnector.h"
#include "protocol/TextEncoding.h"

namespace {

using nimbex_test::CaughtKelException;
typedef std::vector<unsigned char> Bytes;

Bytes Data(const std::string& name) {
    std::ifstream in(NIMBEX_SOURCE_DIR "/tests/operations/data/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string Line(const Json::Value& r) {
    return r["method"].asString() + " " + r["target"].asString();
}

// Short names of the signing requests.
const std::map<std::string, std::string> kSigningRequests = {
    {"POST /local-v1/rest/api/documents", "sign"},
    {"POST /local-v2/rest/api/v2/signature", "sign"},
    {"POST /local-v2-docs/api/documents", "upload"},
    {"GET /local-v2-docs/api/documents/{id}/content", "get"},
    {"DELETE /local-v2-docs/api/documents/{id}", "delete"},
    {"POST /local-v1/rest/api/keys/agree", "agree"},
    {"GET /local-v1/rest/api/apiversion", "version"}};

class KeyOperationsService : public ::testing::Test {
  protected:
    // A silent connector signed in by password grant with the policy loaded;
    // `confirm`: the policy asks to confirm the key actions, each confirmation
    // is three requests to the auth server (no confirmation tokens): version 1 a
    // text challenge answered pending once, version 2 a choice challenge (its
    // first method the password, which is passed over) and the text challenge
    // of the chosen method. Two PIN attempts.
    boost::shared_ptr<KelContainerConnector> Connect(const std::string& name, bool confirm) {
        setenv("NIMBEX_CA_FILE", svc.caFile().c_str(), 1);
        const bool v2 = name == "local-v2";
        Json::Value settings;
        for (const char* action : {"CreateRequest", "DeleteCertificate", "ChangePin"})
            settings["policy"]["mfa"][action] = confirm;
        settings["confirmation"]["challenge"] = v2 ? "choice" : "text";
        settings["confirmation"]["polls"] = v2 ? 0 : 1;
        settings["tokens"]["issueConfToken"] = false;
        settings["pinAttempts"] = 2;
        svc.configure(settings);
        svc.resetState();
        const nimbex_test::LocalServiceUrls& urls = svc.service(name);
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetSilent(true);
        c->SetCredentials("demo", "demo-password");
        KelContainerConnectorTestPeer(*c).SetPause([](unsigned) {});
        c->IsMfaRequired("");
        return c;
    }

    Json::Value Logged(const std::function<void()>& call) {
        svc.reset();
        call();
        return svc.requestLog();
    }

    // The request line, the bearer and content lines and the body, exactly.
    static void ExpectRequest(const Json::Value& r, const std::string& line,
                              const std::string& body, const KelContainerConnector& c) {
        const Json::Value& h = r["headers"];
        EXPECT_EQ(Line(r), line);
        EXPECT_EQ(r["body"].asString(), body) << line;
        EXPECT_EQ(h["authorization"].asString(), "Bearer " + c.AccessToken().value) << line;
        EXPECT_EQ(h["content-type"].asString(),
                  body.empty() ? "" : "application/json; charset=utf-8");
        EXPECT_EQ(h["content-length"].asString(), body.empty() ? "" : std::to_string(body.size()));
        EXPECT_FALSE(h.isMember("vl-signature")) << line;
    }

    // The requests since the last reset, each named by kSigningRequests (else by its line).
    std::string Sequence() {
        std::string out;
        for (const Json::Value& r : svc.requestLog()) {
            const std::string line = std::regex_replace(Line(r), std::regex("doc-[\\w-]+"), "{id}");
            const auto name = kSigningRequests.find(line);
            out +=
                (out.empty() ? "" : " ") + (name != kSigningRequests.end() ? name->second : line);
        }
        return out;
    }
    size_t StoredDocuments() {
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(svc.stateDir() + "/documents"))
            n += e.path().filename().string().rfind("doc-", 0) == 0;
        return n;
    }

    nimbex_test::LocalService svc;
};

}  // namespace

TEST_F(KeyOperationsService, OperationsSendTheirExactRequests) {
    for (const std::string name : {"local-v1", "local-v2"}) {
        for (const bool confirm : {false, true}) {
            SCOPED_TRACE(name + (confirm ? " with confirmation" : ""));
            auto c = Connect(name, confirm);
            const std::string api = "/" + name + "/rest/api/";
            const std::string v2 = name == "local-v2" ? "v2/" : "";
            // The request of `call` (after its transaction or pending request
            // and the confirmation's three requests, when confirmed).
            const auto run = [&](const std::function<void()>& call, const std::string& line,
                                 const std::string& body, const std::string& transaction = "") {
                const Json::Value log = Logged(call);
                ASSERT_EQ(log.size(), confirm && !transaction.empty() ? 5u : 1u) << line;
                ExpectRequest(log[log.size() - 1], line, body, *c);
                if (log.size() == 1) return;
                EXPECT_EQ(Line(log[0]), v2.empty() ? "POST " + api + "transactions" : line);
                EXPECT_EQ(log[0]["body"].asString(), v2.empty() ? transaction + "\n" : body);
                for (Json::ArrayIndex i = 1; i < 4; ++i)
                    EXPECT_EQ(Line(log[i]),
                              "POST /" + name + "-auth" +
                                  (v2.empty() ? "/confirmation" : "/v2.0/confirmation"));
            };
            CertificateRecord key;
            run([&] { key = c->CreateKey(11849, "1.2.840.10045.3.1.7", "5678", 0); },
                "POST " + api + v2 + "keys/generate",
                R"({"AlgId":"11849","ParametersOid":"1.2.840.10045.3.1.7","PinCode":"5678"})"
                "\n",
                R"({"OperationCode":"CreateRequest","Parameters":[{"Name":"AlgId","Value":)"
                R"("11849"},{"Name":"ParamSetOid","Value":"1.2.840.10045.3.1.7"}]})");
            const std::string id = std::to_string(key.id), cert = api + "certificates/" + id;
            const std::string tx =
                R"(","Parameters":[{"Name":"CertificateID","Value":")" + id + R"("}]})";
            run([&] { EXPECT_EQ(c->GetCertificates().back().certificate, key.certificate); },
                "GET " + api + "certificates", "");
            run([&] { EXPECT_EQ(c->GetCertificate(key.id).hasPin, 1); }, "GET " + cert, "");
            run([&] { c->ChangePin(key.id, "5678", "8765"); },
                "POST " + api + v2 + "certificates/" + id + "/pin",
                R"({"ConfirmedPin":"8765","NewPin":"8765","OldPin":"5678"})"
                "\n",
                R"({"OperationCode":"ChangePin)" + tx);
            // PIN validation counts down to blocked; the right PIN then fails too.
            for (const auto& p : {std::make_tuple("8765", "=8765", 2u),
                                  {"a&b c", "=a%26b%20c", 1u},
                                  {"0000", "=0000", 0u},
                                  {"8765", "=8765", 0u}}) {
                uint32_t left = 99;
                bool valid = false;
                run([&] { valid = c->ValidatePin(key.id, std::get<0>(p), &left); },
                    "POST " + cert + "/pin/validate?returnAttempts=true", std::get<1>(p));
                EXPECT_EQ(valid, std::get<2>(p) == 2);
                EXPECT_EQ(left, std::get<2>(p));
            }
            const std::string set = "POST " + api + "keys/" + id + "/params";
            const std::string get = "GET " + api + "keys/" + id + "/params?param=";
            run([&] { EXPECT_EQ(c->GetKeySpec(key.id), 1u); }, get + "KeySpec", "");
            run([&] { c->SetKeySpec(key.id, 2); }, set, "{\"Data\":\"2\",\"Param\":\"KeySpec\"}\n");
            run([&] { EXPECT_EQ(c->GetKeySpec(key.id), 2u); }, get + "KeySpec", "");
            run([&] { c->SetKeyPermissions(key.id, 0); }, set,
                "{\"Data\":\"\",\"Param\":\"key_permissions\"}\n");
            run([&] { EXPECT_EQ(c->GetKeyPermissions(key.id), 0u); }, get + "key_permissions", "");
            const Bytes ext{1, 2, 250};
            run([&] { c->SetContainerExtensions(key.id, ext); }, set,
                "{\"Data\":\"AQL6\",\"Param\":\"container_extensions\"}\n");
            run([&] { EXPECT_EQ(c->GetContainerExtensions(key.id), ext); },
                get + "container_extensions", "");
            run([&] { c->DeleteCertificate(key.id); }, "DELETE " + api + v2 + "certificates/" + id,
                "", R"({"OperationCode":"DeleteCertificate)" + tx);
            for (const CertificateRecord& r : c->GetCertificates()) EXPECT_NE(r.id, key.id);
        }
    }
}

TEST_F(KeyOperationsService, PfxImportCertificateInstallationAndThumbprint) {
    auto c = Connect("local-v2", false);
    const Bytes pfx = Data("key.pfx"), first = Data("first.der"), second = Data("second.der");
    EXPECT_EQ(CaughtKelException([&] { c->InstallPfx(pfx, "wrong"); }).code(), 86u);
    CertificateRecord imported;
    Json::Value log = Logged([&] { imported = c->InstallPfx(pfx, "pfx&pw"); });
    EXPECT_EQ(imported.certificate, first);
    EXPECT_EQ(imported.friendlyName + std::to_string(imported.hasPin), "Imported2");
    ExpectRequest(
        log[0], "POST /local-v2/rest/api/certificates/pfx",
        "{\"Password\":\"pfx&pw\",\"Pfx\":\"" + EncodeBase64(pfx.data(), pfx.size()) + "\"}\n", *c);
    // The second certificate of the key replaces the first.
    log = Logged(
        [&] { EXPECT_EQ(c->InstallCertificate(second.data(), second.size()).id, imported.id); });
    ExpectRequest(log[0], "POST /local-v2/rest/api/certificates/",
                  "{\"certificate\":\"" + EncodeBase64(second.data(), second.size()) + "\"}\n", *c);
    uint32_t id = 0;  // the lookup's exact request: ReaderContainersTest
    EXPECT_TRUE(c->FindCertificateByThumbprint(second, &id));
    EXPECT_EQ(id, imported.id);
    EXPECT_FALSE(c->FindCertificateByThumbprint(first, &id));
    EXPECT_TRUE(Logged([&] {
                    EXPECT_FALSE(c->FindCertificateByThumbprint({48, 0}, &id));
                }).empty());
}

TEST_F(KeyOperationsService, RefusalsInBothGenerations) {
    const Bytes foreign = Data("first.der");  // its key is not on the service
    for (const std::string name : {"local-v1", "local-v2"}) {
        for (const bool confirm : {false, true}) {
            SCOPED_TRACE(name + (confirm ? " with confirmation" : ""));
            auto c = Connect(name, confirm);
            const std::pair<std::function<void()>, uint32_t> rows[] = {
                {[&] { c->CreateKey(11849, "1.2.3", "", 0); }, codes::kBadKeysetParam},
                {[&] { c->DeleteCertificate(99); }, codes::kBadKeyset},
                {[&] { c->ChangePin(2, "0000", "1"); }, codes::kWrongPin},
                {[&] { c->ChangePin(2, "0000", "1"); }, codes::kPinBlocked},
                {[&] { c->ChangePin(99, "1234", "1"); }, codes::kBadKeyset},
                {[&] { c->ValidatePin(99, "1234", nullptr); }, codes::kBadKeyset},
                {[&] { c->InstallCertificate(foreign.data(), foreign.size()); }, codes::kBadKeyset},
                {[&] { c->SetKeySpec(99, 2); }, codes::kBadKeyset},
            };
            for (const auto& row : rows)
                EXPECT_EQ(CaughtKelException(row.first).code(), row.second);
            EXPECT_EQ(c->GetKeySpec(99), 1u);
        }
    }
    auto c = Connect("local-v2", true);
    Json::Value settings;
    settings["confirmation"]["outcome"] = "decline";
    svc.configure(settings);
    EXPECT_EQ(CaughtKelException([&] { c->ChangePin(2, "1234", "1"); }).code(), codes::kCancelled);
}

// Refusals of signing and key agreement: the code, the message, the requests and what is left
// in the document store (signing and agreement themselves: ReaderSigningTest, through the module).
TEST_F(KeyOperationsService, SigningAndAgreementRefusals) {
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
        auto c = Connect(t.service, false);
        svc.reset();
        if (!t.fault.empty()) svc.injectFault({1, 200, t.fault, false, 0, t.faultPath});
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
