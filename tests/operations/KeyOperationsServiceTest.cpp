// The connector's certificate, key and PIN operations against the local
// signature service over HTTPS, in both protocol generations, with and without
// confirmation; the exact requests are read back from the service's log.
#include <gtest/gtest.h>
#include <json/json.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <functional>
#include <regex>

#include "KelAssertions.h"
#include "LocalService.h"
#include "base/ErrorCodes.h"
#include "operations/KelContainerConnector.h"
#include "protocol/TextEncoding.h"

namespace {

using nimbex_test::CaughtKelException;
typedef std::vector<unsigned char> Bytes;

const char kEcOid[] = "1.2.840.10045.3.1.7";
const char kJson[] = "application/json; charset=utf-8";

std::string Line(const Json::Value& r) {
    return r["method"].asString() + " " + r["target"].asString();
}

// A certificate for `key`, signed by it; DER.
Bytes CertificateFor(EVP_PKEY* key, const char* name) {
    X509* x = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(x));
    X509_set_pubkey(x, key);
    X509_sign(x, key, EVP_sha256());
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    Bytes out(der, der + n);
    OPENSSL_free(der);
    X509_free(x);
    return out;
}

Bytes PfxOf(EVP_PKEY* key, const Bytes& certificate, const char* password) {
    const unsigned char* p = certificate.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(certificate.size()));
    PKCS12* pfx = PKCS12_create(password, "Imported", key, x, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int n = i2d_PKCS12(pfx, &der);
    Bytes out(der, der + n);
    OPENSSL_free(der);
    PKCS12_free(pfx);
    X509_free(x);
    return out;
}

class KeyOperationsService : public ::testing::Test {
  protected:
    void SetUp() override { setenv("NIMBEX_CA_FILE", svc.caFile().c_str(), 1); }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

    // A silent connector signed in by password grant with the policy loaded;
    // `confirm` makes the policy ask for confirmation of the key actions
    // (no confirmation tokens: each confirmation is a challenge and its answer).
    boost::shared_ptr<KelContainerConnector> Connect(const std::string& name, bool confirm) {
        Json::Value settings;
        for (const char* action : {"CreateRequest", "DeleteCertificate", "ChangePin"})
            settings["policy"]["mfa"][action] = confirm;
        settings["confirmation"]["polls"] = 0;
        settings["tokens"]["issueConfToken"] = false;
        svc.configure(settings);
        const nimbex_test::LocalServiceUrls& urls = svc.service(name);
        auto c = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, urls.docstore);
        c->SetTimeout(30000);
        c->SetSilent(true);
        c->SetCredentials("demo", "demo-password");
        c->SetPauseFunction([](unsigned) {});
        c->IsMfaRequired("");
        svc.reset();
        return c;
    }

    // The request log of `call` alone.
    Json::Value Logged(const std::function<void()>& call) {
        svc.reset();
        call();
        return svc.requestLog();
    }

    // The module's header lines (bearer, content type and length) and the body, exactly.
    static void ExpectRequest(const Json::Value& r, const std::string& body,
                              const KelContainerConnector& c) {
        const Json::Value& h = r["headers"];
        EXPECT_EQ(r["body"].asString(), body) << Line(r);
        EXPECT_EQ(h["authorization"].asString(), "Bearer " + c.AccessToken().value) << Line(r);
        EXPECT_EQ(h["content-type"].asString(), body.empty() ? "" : kJson) << Line(r);
        EXPECT_EQ(h["content-length"].asString(), body.empty() ? "" : std::to_string(body.size()));
        EXPECT_FALSE(h.isMember("vl-signature")) << Line(r);
    }

    nimbex_test::LocalService svc;
};

}  // namespace

TEST_F(KeyOperationsService, CertificatesAreListedAndReadOneByOne) {
    auto c = Connect("local-v2", false);
    const std::vector<CertificateRecord> list = c->GetCertificates();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].id, 2u);
    EXPECT_EQ(list[1].friendlyName, "Demo EC key");
    EXPECT_EQ(list[1].hasPin, 1);
    const Json::Value log = Logged([&] {
        const CertificateRecord one = c->GetCertificate(2);
        EXPECT_EQ(one.certificate, list[1].certificate);
        EXPECT_EQ(one.friendlyName, list[1].friendlyName);
    });
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(Line(log[0]), "GET /local-v2/rest/api/certificates/2");
    ExpectRequest(log[0], "", *c);
    EXPECT_EQ(CaughtKelException([&] { c->GetCertificate(99); }).code(), codes::kBadKeyset);
}

TEST_F(KeyOperationsService, KeyCreationPinChangeAndDeletionInBothGenerations) {
    for (const std::string name : {"local-v1", "local-v2"}) {
        for (const bool confirm : {false, true}) {
            SCOPED_TRACE(name + (confirm ? " with confirmation" : ""));
            auto c = Connect(name, confirm);
            const bool v2 = name == "local-v2";
            const std::string api = "/" + name + "/rest/api/" + (v2 ? "v2/" : "");
            // The operation's request after its confirmation (a transaction, or
            // the same request first answered as pending), exactly.
            auto expect = [&](const Json::Value& log, const std::string& request,
                              const std::string& body, const std::string& transaction) {
                std::vector<std::string> want;
                const std::string confirmation =
                    "POST /" + name + "-auth" + (v2 ? "/v2.0/confirmation" : "/confirmation");
                if (confirm)
                    want = {v2 ? request : "POST /" + name + "/rest/api/transactions", confirmation,
                            confirmation};
                want.push_back(request);
                std::vector<std::string> got;
                for (const Json::Value& r : log) got.push_back(Line(r));
                ASSERT_EQ(got, want);
                ExpectRequest(log[log.size() - 1], body, *c);
                if (confirm) {
                    EXPECT_EQ(log[0]["body"].asString(), v2 ? body : transaction + "\n");
                }
            };

            CertificateRecord key;
            Json::Value log = Logged([&] { key = c->CreateKey(11849, kEcOid, "5678", 0); });
            expect(log, "POST " + api + "keys/generate",
                   R"({"AlgId":"11849","ParametersOid":"1.2.840.10045.3.1.7","PinCode":"5678"})"
                   "\n",
                   R"({"OperationCode":"CreateRequest","Parameters":[{"Name":"AlgId","Value":)"
                   R"("11849"},{"Name":"ParamSetOid","Value":"1.2.840.10045.3.1.7"}]})");
            EXPECT_EQ(key.hasPin, 1);
            EXPECT_EQ(c->GetCertificates().back().certificate, key.certificate);

            const std::string id = std::to_string(key.id);
            const std::string certificateTx =
                R"(","Parameters":[{"Name":"CertificateID","Value":")" + id + R"("}]})";
            log = Logged([&] { c->ChangePin(key.id, "5678", "8765"); });
            expect(log, "POST " + api + "certificates/" + id + "/pin",
                   R"({"ConfirmedPin":"8765","NewPin":"8765","OldPin":"5678"})"
                   "\n",
                   R"({"OperationCode":"ChangePin)" + certificateTx);
            EXPECT_TRUE(c->ValidatePin(key.id, "8765", nullptr));

            log = Logged([&] { c->DeleteCertificate(key.id); });
            expect(log, "DELETE " + api + "certificates/" + id, "",
                   R"({"OperationCode":"DeleteCertificate)" + certificateTx);
            for (const CertificateRecord& r : c->GetCertificates()) {
                EXPECT_NE(r.id, key.id);
            }

            // An RSA key with its length and without a PIN.
            log = Logged([&] { key = c->CreateKey(43590, "1.3.14.3.2.11", "", 1024); });
            EXPECT_EQ(log[log.size() - 1]["body"].asString(),
                      R"({"AlgId":"43590","KeyLength":"1024","ParametersOid":"1.3.14.3.2.11",)"
                      R"("PinCode":""})"
                      "\n");
            EXPECT_EQ(key.hasPin, 2);
        }
    }
}

TEST_F(KeyOperationsService, RefusalsInBothGenerations) {
    EVP_PKEY* foreignKey = EVP_EC_gen("P-256");
    const Bytes foreign = CertificateFor(foreignKey, "not on the service");
    for (const std::string name : {"local-v1", "local-v2"}) {
        for (const bool confirm : {false, true}) {
            SCOPED_TRACE(name + (confirm ? " with confirmation" : ""));
            auto c = Connect(name, confirm);
            const struct {
                std::function<void()> call;
                uint32_t code;
            } rows[] = {
                {[&] { c->CreateKey(11849, "1.2.3", "", 0); }, codes::kBadKeysetParam},
                {[&] { c->CreateKey(11849, kEcOid, "", 512); }, codes::kBadKeysetParam},
                {[&] { c->DeleteCertificate(99); }, codes::kBadKeyset},
                {[&] { c->ChangePin(2, "0000", "1"); }, codes::kWrongPin},
                {[&] { c->ChangePin(99, "1234", "1"); }, codes::kBadKeyset},
                {[&] { c->ValidatePin(99, "1234", nullptr); }, codes::kBadKeyset},
                {[&] { c->InstallCertificate(foreign.data(), foreign.size()); }, codes::kBadKeyset},
                {[&] { c->InstallPfx(foreign, "pw"); }, codes::kBadKeysetParam},
                {[&] { c->SetKeySpec(99, 2); }, codes::kBadKeyset},
            };
            for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
                EXPECT_EQ(CaughtKelException(rows[i].call).code(), rows[i].code) << "row " << i;
        }
    }
    EVP_PKEY_free(foreignKey);

    // A declined confirmation: nothing changes.
    auto c = Connect("local-v2", true);
    Json::Value settings;
    settings["confirmation"]["outcome"] = "decline";
    svc.configure(settings);
    EXPECT_EQ(CaughtKelException([&] { c->ChangePin(2, "1234", "1"); }).code(), codes::kCancelled);
    EXPECT_TRUE(c->ValidatePin(2, "1234", nullptr));
}

TEST_F(KeyOperationsService, PfxImportCertificateInstallationAndThumbprint) {
    auto c = Connect("local-v2", false);
    EVP_PKEY* key = EVP_EC_gen("P-256");
    const Bytes first = CertificateFor(key, "first"), second = CertificateFor(key, "second");
    const Bytes pfx = PfxOf(key, first, "pfx&pw");
    EVP_PKEY_free(key);

    EXPECT_EQ(CaughtKelException([&] { c->InstallPfx(pfx, "wrong"); }).code(), 86u);
    CertificateRecord imported;
    Json::Value log = Logged([&] { imported = c->InstallPfx(pfx, "pfx&pw"); });
    EXPECT_EQ(imported.certificate, first);
    EXPECT_EQ(imported.friendlyName, "Imported");
    EXPECT_EQ(imported.hasPin, 2);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(Line(log[0]), "POST /local-v2/rest/api/certificates/pfx");
    ExpectRequest(
        log[0], R"({"Password":"pfx&pw","Pfx":")" + EncodeBase64(pfx.data(), pfx.size()) + "\"}\n",
        *c);

    // A new certificate for the imported key replaces the old one.
    log = Logged([&] {
        const CertificateRecord installed = c->InstallCertificate(second.data(), second.size());
        EXPECT_EQ(installed.id, imported.id);
        EXPECT_EQ(installed.certificate, second);
    });
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(Line(log[0]), "POST /local-v2/rest/api/certificates/");
    ExpectRequest(log[0],
                  R"({"certificate":")" + EncodeBase64(second.data(), second.size()) + "\"}\n", *c);
    EXPECT_EQ(c->GetCertificate(imported.id).certificate, second);

    uint32_t id = 0;
    log = Logged([&] { EXPECT_TRUE(c->FindCertificateByThumbprint(second, &id)); });
    EXPECT_EQ(id, imported.id);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        Line(log[0]),
        std::regex("GET /local-v2/rest/api/certificates\\?thumbprint=[-_A-Za-z0-9]{27}=")))
        << Line(log[0]);
    EXPECT_FALSE(c->FindCertificateByThumbprint(first, &id));
    log = Logged([&] { EXPECT_FALSE(c->FindCertificateByThumbprint(Bytes{0x30, 0x03}, &id)); });
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(id, imported.id);
}

TEST_F(KeyOperationsService, KeyParametersAreWrittenAndReadBack) {
    auto c = Connect("local-v1", false);
    EXPECT_EQ(c->GetKeySpec(2), 1u);
    EXPECT_EQ(c->GetKeyPermissions(2), 0u);
    EXPECT_TRUE(c->GetContainerExtensions(2).empty());
    const struct {
        std::function<void()> set;
        std::function<uint64_t()> get;
        const char *name, *data;
        uint64_t readBack;
    } rows[] = {
        {[&] { c->SetKeySpec(2, 2); }, [&] { return c->GetKeySpec(2); }, "KeySpec", "2", 2},
        {[&] { c->SetKeySpec(2, 0); }, [&] { return c->GetKeySpec(2); }, "KeySpec", "", 1},
        {[&] { c->SetKeyPermissions(2, 0x80000001); }, [&] { return c->GetKeyPermissions(2); },
         "key_permissions", "2147483649", 0x80000001},
        {[&] { c->SetKeyPermissions(2, 0); }, [&] { return c->GetKeyPermissions(2); },
         "key_permissions", "", 0},
        {[&] {
             c->SetContainerExtensions(2, {1, 2, 250});
         },
         [&] {
             const Bytes b = c->GetContainerExtensions(2);
             return b.size() == 3 ? uint64_t(b[0]) << 16 | b[1] << 8 | b[2] : 0;
         },
         "container_extensions", "AQL6", 0x0102FA},
    };
    for (const auto& row : rows) {
        const Json::Value log = Logged([&] {
            row.set();
            EXPECT_EQ(row.get(), row.readBack) << row.name;
        });
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(Line(log[0]), "POST /local-v1/rest/api/keys/2/params");
        ExpectRequest(
            log[0], std::string(R"({"Data":")") + row.data + R"(","Param":")" + row.name + "\"}\n",
            *c);
        EXPECT_EQ(Line(log[1]),
                  std::string("GET /local-v1/rest/api/keys/2/params?param=") + row.name);
        ExpectRequest(log[1], "", *c);
    }
    EXPECT_EQ(c->GetKeySpec(99), 1u);  // the refused read gives the default
}

TEST_F(KeyOperationsService, PinValidationCountsDownToBlocked) {
    Json::Value settings;
    settings["pinAttempts"] = 3;
    svc.configure(settings);
    svc.resetState();
    auto c = Connect("local-v2", false);
    const struct {
        const char *pin, *body;
        bool valid;
        uint32_t left;
    } rows[] = {
        {"1234", "=1234", true, 3},  {"a&b c", "=a%26b%20c", false, 2}, {"0000", "=0000", false, 1},
        {"0000", "=0000", false, 0}, {"1234", "=1234", false, 0},  // blocked
    };
    for (const auto& row : rows) {
        uint32_t left = 99;
        const Json::Value log =
            Logged([&] { EXPECT_EQ(c->ValidatePin(2, row.pin, &left), row.valid) << row.pin; });
        EXPECT_EQ(left, row.left) << row.pin;
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(Line(log[0]),
                  "POST /local-v2/rest/api/certificates/2/pin/validate?returnAttempts=true");
        ExpectRequest(log[0], row.body, *c);
    }
    EXPECT_EQ(CaughtKelException([&] { c->ChangePin(2, "1234", "1"); }).code(), codes::kPinBlocked);
}
