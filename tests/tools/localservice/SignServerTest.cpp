#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>

#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

constexpr uint32_t kRsaId = 1;
constexpr uint32_t kEcId = 2;
constexpr uint32_t kSha1 = 0x8004;
constexpr uint32_t kSha256 = 0x800C;

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

class SignServerTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        token1_ = passwordToken(v1());
        token2_ = passwordToken(v2());
    }
    static Json::Value v1SignBody(uint32_t id, const Bytes& data, uint32_t alg,
                                  const std::string& pin, bool isHash) {
        Json::Value b;
        b["Content"] = b64(data);
        b["Name"] = "document";
        if (!pin.empty()) b["Signature"]["PinCode"] = pin;
        b["Signature"]["Type"] = 1;
        if (isHash) b["Signature"]["Parameters"]["Hash"] = "True";
        if (alg) b["Signature"]["Parameters"]["HashAlgorithm"] = alg;
        if (!isHash && !alg) b["Signature"]["Parameters"] = Json::Value();
        b["Signature"]["CertificateId"] = id;
        return b;
    }
    HttpResult signV1(uint32_t id, const Bytes& data, uint32_t alg, const std::string& pin = "1234",
                      bool isHash = true) {
        return signedPost(v1().sign + "/rest/api/documents", token1_,
                          compact(v1SignBody(id, data, alg, pin, isHash)));
    }
    // A request to the first service's sign API with the first user's token.
    HttpResult getApi(const std::string& path) {
        return get(v1().sign + "/rest/api" + path, token1_);
    }
    HttpResult postApi(const std::string& path, const std::string& body,
                       std::vector<std::string> headers = {}) {
        return post(v1().sign + "/rest/api" + path, token1_, body, std::move(headers));
    }
    static std::string errorOf(const HttpResult& r) { return json(r.body)["error"].asString(); }
    Json::Value validate(uint32_t id, const std::string& pinBody) {
        HttpResult r = postApi(
            "/certificates/" + std::to_string(id) + "/pin/validate?returnAttempts=true", pinBody);
        EXPECT_EQ(r.status, 200) << r.body;
        return json(r.body);
    }
    std::string token1_, token2_;
};

TEST_F(SignServerTest, ApiVersionIsPlainTextWithoutAToken) {
    EXPECT_EQ(get(v1().sign + "/rest/api/apiversion").body, "1");
    EXPECT_EQ(get(v2().sign + "/rest/api/apiversion").body, "2");
}

TEST_F(SignServerTest, RequestsWithoutAValidTokenAreRefused) {
    EXPECT_EQ(get(v1().sign + "/rest/api/certificates").status, 401);
    EXPECT_EQ(get(v1().sign + "/rest/api/certificates", "at.made-up").status, 401);
    EXPECT_EQ(getApi("/certificates").status, 200);
    svc().expireTokens("access");
    HttpResult expired = getApi("/certificates");
    EXPECT_EQ(expired.status, 401);
    EXPECT_EQ(errorOf(expired), "invalid_token");
}

TEST_F(SignServerTest, PolicyFollowsTheConfiguration) {
    svc().configure(json(R"({"policy": {"mfa": {"SignDocument": true},
        "providers": [{"ProviderType": 80, "SupportedParamSets": ["1.2.840.10045.3.1.7"]}]}})"));
    Json::Value p = json(getApi("/policy").body);
    bool sign = false, del = true;
    for (const auto& a : p["ActionPolicy"]) {
        if (a["Action"].asString() == "SignDocument") sign = a["MfaRequired"].asBool();
        if (a["Action"].asString() == "DeleteCertificate") del = a["MfaRequired"].asBool();
    }
    EXPECT_TRUE(sign);
    EXPECT_FALSE(del);
    ASSERT_EQ(p["CSPsPolicy"].size(), 1u);
    EXPECT_EQ(p["CSPsPolicy"][0]["ProviderType"].asUInt(), 80u);
}

TEST_F(SignServerTest, CertificatesByListIdAndThumbprint) {
    Json::Value list = json(getApi("/certificates").body);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["ID"].asUInt(), kRsaId);
    EXPECT_EQ(list[1]["ID"].asUInt(), kEcId);
    EXPECT_TRUE(list[0]["HasPin"].asBool());
    Bytes der = certificate(v1(), token1_, kEcId);
    ASSERT_FALSE(der.empty());
    unsigned char sha[20];
    EVP_Digest(der.data(), der.size(), sha, nullptr, EVP_sha1(), nullptr);
    std::string thumb = b64(Bytes(sha, sha + 20));
    for (char& c : thumb) c = c == '+' ? '-' : c == '/' ? '_' : c;
    Json::Value found = json(getApi("/certificates?thumbprint=" + thumb).body);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["ID"].asUInt(), kEcId);
    sha[0] ^= 1;
    std::string other = b64(Bytes(sha, sha + 20));
    for (char& c : other) c = c == '+' ? '-' : c == '/' ? '_' : c;
    EXPECT_EQ(json(getApi("/certificates?thumbprint=" + other).body).size(), 0u);
    EXPECT_EQ(getApi("/certificates?thumbprint=abc").status, 400);
    HttpResult missing = getApi("/certificates/77");
    EXPECT_EQ(missing.status, 400);
    EXPECT_EQ(errorOf(missing), "invalid_certificate");
    EXPECT_EQ(getApi("/certificates/x7").status, 400);
}

TEST_F(SignServerTest, SignsHashesWithTheRequestedOrInferredAlgorithm) {
    Bytes rsaCert = certificate(v1(), token1_, kRsaId);
    Bytes ecCert = certificate(v1(), token1_, kEcId);
    Bytes h256 = digest(EVP_sha256(), "hello");
    Bytes h1 = digest(EVP_sha1(), "hello");

    HttpResult r = signV1(kRsaId, h256, kSha256);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_TRUE(verify(rsaCert, h256, unb64(json(r.body).asString()), EVP_sha256()));

    r = signV1(kRsaId, h1, 0);  // SHA-1 inferred from 20 bytes
    ASSERT_EQ(r.status, 200) << r.body;
    Bytes sig = unb64(json(r.body).asString());
    EXPECT_TRUE(verify(rsaCert, h1, sig, EVP_sha1()));
    EXPECT_FALSE(verify(rsaCert, h1, sig, EVP_sha256()));

    r = signV1(kEcId, h256, kSha256);
    ASSERT_EQ(r.status, 200) << r.body;
    sig = unb64(json(r.body).asString());
    EXPECT_EQ(sig.size(), 64u);
    EXPECT_TRUE(verify(ecCert, h256, sig, EVP_sha256()));

    // A whole document is hashed by the service (SHA-256 when no algorithm is given).
    std::string doc = "a document to sign";
    r = signV1(kEcId, Bytes(doc.begin(), doc.end()), 0, "1234", false);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_TRUE(
        verify(ecCert, digest(EVP_sha256(), doc), unb64(json(r.body).asString()), EVP_sha256()));
}

TEST_F(SignServerTest, SigningRefusals) {
    Bytes h256 = digest(EVP_sha256(), "x");
    EXPECT_EQ(errorOf(signV1(kRsaId, h256, kSha256, "0000")), "invalid_pin");
    EXPECT_EQ(errorOf(signV1(kRsaId, h256, kSha1)), "invalid_signature_params");
    EXPECT_EQ(errorOf(signV1(kRsaId, h256, 0x1234)), "invalid_hash_alg");
    EXPECT_EQ(errorOf(signV1(kRsaId, Bytes(17, 1), 0)), "invalid_hash_alg");
    EXPECT_EQ(errorOf(signV1(99, h256, kSha256)), "invalid_certificate");
    Json::Value typed = v1SignBody(kRsaId, h256, kSha256, "1234", true);
    typed["Signature"]["Type"] = 2;
    EXPECT_EQ(errorOf(postApi("/documents", compact(typed))), "invalid_signature_type");
    Json::Value noContent = typed;
    noContent.removeMember("Content");
    EXPECT_EQ(errorOf(postApi("/documents", compact(noContent))), "invalid_transaction");
    HttpResult bad = postApi("/documents", "{\"Content\":");
    EXPECT_EQ(bad.status, 400);
    EXPECT_EQ(errorOf(bad), "invalid_request");
    EXPECT_EQ(errorOf(postApi("/documents", "")), "content_required");
}

TEST_F(SignServerTest, PinAttemptsCountDownAndBlockTheKey) {
    svc().configure(json(R"({"pinAttempts": 3})"));
    svc().resetState();
    token1_ = passwordToken(v1());
    Json::Value ok = validate(kRsaId, "=1234");
    EXPECT_TRUE(ok["IsValid"].asBool());
    EXPECT_EQ(ok["Remaining"].asUInt(), 3u);
    Json::Value w1 = validate(kRsaId, "=1111");
    EXPECT_FALSE(w1["IsValid"].asBool());
    EXPECT_EQ(w1["Remaining"].asUInt(), 2u);
    EXPECT_EQ(w1["ErrorDescription"].asString(), "invalid_pin");
    validate(kRsaId, "=1111");
    Json::Value blocked = validate(kRsaId, "=1111");
    EXPECT_EQ(blocked["Remaining"].asUInt(), 0u);
    EXPECT_EQ(blocked["ErrorDescription"].asString(), "key_blocked");
    EXPECT_EQ(validate(kRsaId, "=1234")["ErrorDescription"].asString(), "key_blocked");
    EXPECT_EQ(errorOf(signV1(kRsaId, digest(EVP_sha256(), "x"), kSha256)), "key_blocked");
    // The other key is not affected; the older answer form is a plain boolean.
    HttpResult plain = postApi("/certificates/2/pin/validate", "=1234");
    EXPECT_EQ(plain.body, "true");
    EXPECT_EQ(postApi("/certificates/2/pin/validate", "1234").status, 400);
    svc().resetState();
    token1_ = passwordToken(v1());
    EXPECT_TRUE(validate(kRsaId, "=1234")["IsValid"].asBool());
}

TEST_F(SignServerTest, PinValidationDecodesThePercentEncodedPin) {
    Json::Value b;
    b["OldPin"] = "1234";
    b["NewPin"] = "a&b c";
    b["ConfirmedPin"] = "a&b c";
    ASSERT_EQ(postApi("/certificates/1/pin", compact(b)).status, 200);
    EXPECT_TRUE(validate(kRsaId, "=a%26b%20c")["IsValid"].asBool());
    EXPECT_FALSE(validate(kRsaId, "=a%2526b%20c")["IsValid"].asBool());  // decoded once only
}

TEST_F(SignServerTest, ChangePinInBothForms) {
    Json::Value b;
    b["OldPin"] = "1234";
    b["NewPin"] = "5678";
    b["ConfirmedPin"] = "5678";
    HttpResult r = postApi("/certificates/1/pin", compact(b));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(errorOf(signV1(kRsaId, digest(EVP_sha256(), "x"), kSha256, "1234")), "invalid_pin");
    EXPECT_EQ(signV1(kRsaId, digest(EVP_sha256(), "x"), kSha256, "5678").status, 200);

    b["OldPin"] = "1234";
    HttpResult v2r = post(v2().sign + "/rest/api/v2/certificates/2/pin", token2_, compact(b));
    Json::Value op = json(v2r.body)["Operation"];
    EXPECT_EQ(op["Status"].asString(), "Completed") << v2r.body;
    EXPECT_TRUE(op["Result"].isObject() && op["Result"].empty());
    b["ConfirmedPin"] = "9999";
    Json::Value mismatch =
        json(post(v2().sign + "/rest/api/v2/certificates/2/pin", token2_, compact(b)).body);
    EXPECT_EQ(mismatch["Operation"]["Status"].asString(), "Error");
    EXPECT_EQ(mismatch["Operation"]["Error"].asString(), "invalid_request");
    // No "v2/" forms on the version 1 service.
    EXPECT_EQ(postApi("/v2/certificates/2/pin", compact(b)).status, 404);
}

TEST_F(SignServerTest, MessageSignatureIsVerifiedAndABadOneRefused) {
    std::string body =
        compact(v1SignBody(kRsaId, digest(EVP_sha256(), "x"), kSha256, "1234", true));
    EXPECT_EQ(signedPost(v1().sign + "/rest/api/documents", token1_, body).status, 200);
    HttpResult bad = signedPost(v1().sign + "/rest/api/documents", token1_, body, true);
    EXPECT_EQ(bad.status, 400);
    EXPECT_EQ(errorOf(bad), "invalid_http_message_signature");
    HttpResult garbled = postApi("/documents", body, {"VL-Signature: nonsense"});
    EXPECT_EQ(errorOf(garbled), "invalid_http_message_signature");
    EXPECT_EQ(postApi("/documents", body).status, 200);
    svc().configure(json(R"({"requireMessageSignature": true})"));
    EXPECT_EQ(errorOf(postApi("/documents", body)), "invalid_http_message_signature");
    EXPECT_EQ(signedPost(v1().sign + "/rest/api/documents", token1_, body).status, 200);
}

TEST_F(SignServerTest, ConfirmedTransactionCarriesTheDataOfAVersion1Signature) {
    svc().configure(
        json(R"({"policy": {"mfa": {"SignDocument": true}}, "confirmation": {"polls": 0}})"));
    Bytes hash = digest(EVP_sha256(), "confirmed");
    EXPECT_EQ(errorOf(signV1(kEcId, hash, kSha256)), "invalid_transaction");
    Json::Value tx;
    tx["OperationCode"] = "SignDocument";
    auto param = [&](const char* n, const std::string& v) {
        Json::Value p;
        p["Name"] = n;
        p["Value"] = v;
        tx["Parameters"].append(p);
    };
    param("CertificateID", "2");
    param("SignatureType", "GOST3410");
    param("DocumentInfo", "info");
    param("HashAlgorithm", std::to_string(kSha256));
    param("Hash", "true");
    tx["Document"] = b64(hash);
    HttpResult created = signedPost(v1().sign + "/rest/api/transactions", token1_, compact(tx));
    ASSERT_EQ(created.status, 200) << created.body;
    std::string txId = json(created.body).asString();
    ASSERT_FALSE(txId.empty());

    Json::Value first;
    first["Resource"] = v1().resource;
    first["ClientId"] = "veltra.cloud.csp";
    first["TransactionTokenId"] = txId;
    Json::Value challenge = json(post(v1().auth + "/confirmation", token1_, compact(first)).body);
    Json::Value answer;
    answer["ChallengeResponse"]["TextChallengeResponse"][0]["RefId"] =
        challenge["Challenge"]["TextChallenge"][0]["RefID"];
    answer["Resource"] = v1().resource;
    answer["ClientId"] = "veltra.cloud.csp";
    Json::Value final = json(post(v1().auth + "/confirmation", token1_, compact(answer)).body);
    ASSERT_TRUE(final["IsFinal"].asBool()) << compact(final);
    std::string bound = final["AccessToken"].asString();

    std::string shortBody = R"({"Signature":{"PinCode":"1234"}})";
    HttpResult signedR = signedPost(v1().sign + "/rest/api/documents", bound, shortBody);
    ASSERT_EQ(signedR.status, 200) << signedR.body;
    EXPECT_TRUE(verify(certificate(v1(), token1_, kEcId), hash,
                       unb64(json(signedR.body).asString()), EVP_sha256()));
    // A transaction is used once.
    EXPECT_EQ(errorOf(signedPost(v1().sign + "/rest/api/documents", bound, shortBody)),
              "invalid_transaction");
    // Transactions are checked when they are created.
    Json::Value unknown = tx;
    unknown["OperationCode"] = "Launch";
    EXPECT_EQ(errorOf(postApi("/transactions", compact(unknown))), "invalid_request");
}

TEST_F(SignServerTest, PendingVersion2OperationRunsOnceConfirmed) {
    svc().configure(
        json(R"({"policy": {"mfa": {"DeleteCertificate": true}}, "confirmation": {"polls": 0}})"));
    HttpResult pending = del(v2().sign + "/rest/api/v2/certificates/1", token2_);
    Json::Value op = json(pending.body)["Operation"];
    ASSERT_EQ(op["Status"].asString(), "Pending") << pending.body;
    std::string opId = op["Id"].asString();
    EXPECT_EQ(json(get(v2().sign + "/rest/api/certificates", token2_).body).size(), 2u);

    Json::Value first;
    first["Resource"] = v2().resource;
    first["ClientId"] = "veltra.cloud.csp";
    first["OperationId"] = opId;
    Json::Value challenge =
        json(post(v2().auth + "/v2.0/confirmation", token2_, compact(first)).body);
    Json::Value answer;
    answer["ChallengeResponse"]["TextChallengeResponse"][0]["RefId"] =
        challenge["Challenge"]["TextChallenge"][0]["RefID"];
    answer["Resource"] = v2().resource;
    answer["ClientId"] = "veltra.cloud.csp";
    std::string bound =
        json(post(v2().auth + "/v2.0/confirmation", token2_, compact(answer)).body)["AccessToken"]
            .asString();
    ASSERT_FALSE(bound.empty());
    // Another request with the bound token is not the confirmed one.
    EXPECT_EQ(
        json(del(v2().sign + "/rest/api/v2/certificates/2", bound).body)["Operation"]["Status"]
            .asString(),
        "Pending");
    Json::Value done =
        json(del(v2().sign + "/rest/api/v2/certificates/1", bound).body)["Operation"];
    EXPECT_EQ(done["Status"].asString(), "Completed");
    EXPECT_TRUE(done.isMember("Result"));
    Json::Value list = json(get(v2().sign + "/rest/api/certificates", token2_).body);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["ID"].asUInt(), kEcId);
}

TEST_F(SignServerTest, KeyAgreementFollowsTheDocumentedRule) {
    PkeyPtr peer(EVP_EC_gen("P-256"), EVP_PKEY_free);
    unsigned char* spki = nullptr;
    int spkiLen = i2d_PUBKEY(peer.get(), &spki);
    Bytes peerInfo(spki, spki + spkiLen);
    OPENSSL_free(spki);
    Bytes ukm = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes mask(32);
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = static_cast<uint8_t>(i * 7);

    // Expected: SHA-256(ECDH x-coordinate || UKM) XOR mask.
    Bytes der = certificate(v1(), token1_, kEcId);
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(peer.get(), nullptr), EVP_PKEY_CTX_free);
    ASSERT_EQ(EVP_PKEY_derive_init(ctx.get()), 1);
    ASSERT_EQ(EVP_PKEY_derive_set_peer(ctx.get(), X509_get0_pubkey(cert.get())), 1);
    size_t zlen = 32;
    Bytes z(32);
    ASSERT_EQ(EVP_PKEY_derive(ctx.get(), z.data(), &zlen), 1);
    std::string zu(z.begin(), z.end());
    zu.append(ukm.begin(), ukm.end());
    Bytes expected = digest(EVP_sha256(), zu);
    for (size_t i = 0; i < 32; ++i) expected[i] ^= mask[i];

    Json::Value b;
    b["PublicKeyInfo"] = b64(peerInfo);
    b["Ukm"] = b64(ukm);
    b["Mask"] = b64(mask);
    b["CertificateId"] = kEcId;
    b["PinCode"] = "1234";
    HttpResult r = postApi("/keys/agree", compact(b));
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(unb64(json(r.body).asString()), expected);

    // The long form (version 2 only) gives 64 bytes: SHA-512 with an empty mask.
    b["VkoAlgid"] = 26146;
    b["Mask"] = "";
    Json::Value v2r = json(post(v2().sign + "/rest/api/v2/keys/agree", token2_, compact(b)).body);
    ASSERT_EQ(v2r["Operation"]["Status"].asString(), "Completed") << compact(v2r);
    Bytes longKey = unb64(v2r["Operation"]["Result"].asString());
    const EVP_MD* sha512 = EVP_sha512();
    EXPECT_EQ(longKey, digest(sha512, zu));
    EXPECT_EQ(errorOf(postApi("/keys/agree", compact(b))), "invalid_request");
    b.removeMember("VkoAlgid");
    b["CertificateId"] = kRsaId;
    EXPECT_EQ(errorOf(postApi("/keys/agree", compact(b))), "invalid_certificate");
    b["CertificateId"] = kEcId;
    b["PublicKeyInfo"] = b64(Bytes(65, 4));
    EXPECT_EQ(errorOf(postApi("/keys/agree", compact(b))), "invalid_request");
}

TEST_F(SignServerTest, KeyGenerationIssuesACertificateFromTheServiceCa) {
    Json::Value b;
    b["AlgId"] = "11849";
    b["ParametersOid"] = "1.2.840.10045.3.1.7";
    b["PinCode"] = "";
    HttpResult r = postApi("/keys/generate", compact(b));
    ASSERT_EQ(r.status, 200) << r.body;
    Json::Value rec = json(r.body);
    EXPECT_GT(rec["ID"].asUInt(), kEcId);
    EXPECT_FALSE(rec["HasPin"].asBool());
    Bytes der = unb64(rec["CertificateBase64"].asString());
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    ASSERT_TRUE(cert);
    FILE* f = fopen(svc().caFile().c_str(), "r");
    ASSERT_NE(f, nullptr);
    X509Ptr ca(PEM_read_X509(f, nullptr, nullptr, nullptr), X509_free);
    fclose(f);
    EXPECT_EQ(X509_verify(cert.get(), X509_get0_pubkey(ca.get())), 1);
    EXPECT_EQ(json(getApi("/certificates").body).size(), 3u);
    // The new key signs.
    Bytes h = digest(EVP_sha256(), "new key");
    HttpResult s = signV1(rec["ID"].asUInt(), h, kSha256, "");
    EXPECT_TRUE(verify(der, h, unb64(json(s.body).asString()), EVP_sha256()));

    b["ParametersOid"] = "1.3.14.3.2.22";
    b["KeyLength"] = "1024";
    b["PinCode"] = "4321";
    Json::Value v2r =
        json(post(v2().sign + "/rest/api/v2/keys/generate", token2_, compact(b)).body);
    ASSERT_EQ(v2r["Operation"]["Status"].asString(), "Completed") << compact(v2r);
    EXPECT_TRUE(v2r["Operation"]["Result"]["HasPin"].asBool());

    b["ParametersOid"] = "1.2.643.2.2.35.1";
    EXPECT_EQ(errorOf(postApi("/keys/generate", compact(b))), "invalid_request");
    b["ParametersOid"] = "1.2.840.10045.3.1.7";
    b["AlgId"] = 11849;
    EXPECT_EQ(errorOf(postApi("/keys/generate", compact(b))), "invalid_request");
}

TEST_F(SignServerTest, PfxImportAndCertificateInstallation) {
    PkeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    X509Ptr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("imported"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
    X509_set_pubkey(cert.get(), key.get());
    X509_sign(cert.get(), key.get(), EVP_sha256());
    PKCS12* p12 =
        PKCS12_create("secret", "imported key", key.get(), cert.get(), nullptr, 0, 0, 0, 0, 0);
    ASSERT_NE(p12, nullptr);
    unsigned char* raw = nullptr;
    int len = i2d_PKCS12(p12, &raw);
    Bytes pfx(raw, raw + len);
    OPENSSL_free(raw);
    PKCS12_free(p12);

    Json::Value b;
    b["Pfx"] = b64(pfx);
    b["Password"] = "wrong";
    EXPECT_EQ(errorOf(postApi("/certificates/pfx", compact(b))), "invalid_password");
    b["Password"] = "secret";
    HttpResult r = postApi("/certificates/pfx", compact(b));
    ASSERT_EQ(r.status, 200) << r.body;
    Json::Value rec = json(r.body);
    EXPECT_EQ(rec["FriendlyName"].asString(), "imported key");
    Bytes der = unb64(rec["CertificateBase64"].asString());
    Bytes h = digest(EVP_sha256(), "imported");
    EXPECT_TRUE(verify(der, h,
                       unb64(json(signV1(rec["ID"].asUInt(), h, kSha256, "").body).asString()),
                       EVP_sha256()));
    b["Pfx"] = b64(Bytes(40, 0x30));
    EXPECT_EQ(errorOf(postApi("/certificates/pfx", compact(b))), "invalid_request");

    // Installing a certificate of a key the user holds replaces that key's certificate.
    Json::Value install;
    install["certificate"] = b64(der);
    Json::Value installed = json(postApi("/certificates/", compact(install)).body);
    EXPECT_EQ(installed["ID"].asUInt(), rec["ID"].asUInt());
    PkeyPtr stranger(EVP_EC_gen("P-256"), EVP_PKEY_free);
    X509_set_pubkey(cert.get(), stranger.get());
    X509_sign(cert.get(), stranger.get(), EVP_sha256());
    unsigned char* sraw = nullptr;
    int slen = i2d_X509(cert.get(), &sraw);
    install["certificate"] = b64(Bytes(sraw, sraw + slen));
    OPENSSL_free(sraw);
    EXPECT_EQ(errorOf(postApi("/certificates/", compact(install))), "invalid_certificate");
}

TEST_F(SignServerTest, DeletionAndKeyParameters) {
    Json::Value set;
    set["Param"] = "KeySpec";
    set["Data"] = "2";
    EXPECT_EQ(postApi("/keys/2/params", compact(set)).status, 200);
    EXPECT_EQ(json(getApi("/keys/2/params?param=KeySpec").body).asString(), "2");
    EXPECT_EQ(getApi("/keys/2/params?param=key_permissions").body, "\"\"");
    EXPECT_EQ(getApi("/keys/9/params?param=KeySpec").status, 400);

    HttpResult d = del(v1().sign + "/rest/api/certificates/2", token1_);
    EXPECT_EQ(d.status, 200);
    EXPECT_EQ(d.body, "");
    EXPECT_EQ(errorOf(del(v1().sign + "/rest/api/certificates/2", token1_)), "invalid_certificate");
    Json::Value v2d =
        json(del(v2().sign + "/rest/api/v2/certificates/1", token2_).body)["Operation"];
    EXPECT_EQ(v2d["Status"].asString(), "Completed");
    EXPECT_EQ(json(get(v2().sign + "/rest/api/certificates", token2_).body).size(), 0u);
}

TEST_F(SignServerTest, MalformedBodiesAreRefusedWith400) {
    struct Case {
        std::string url, body, token;
    };
    std::vector<Case> cases = {
        {v2().auth + "/v2.0/confirmation",
         R"({"ChallengeResponse":{"ChoiceChallengeResponse":[{"RefID":"x","ChoiceSelected":[5]}]}})",
         token2_},
        {v2().auth + "/v2.0/confirmation", "[1,2]", token2_},
        {v1().sign + "/rest/api/keys/generate", "[\"AlgId\"]", token1_},
        {v1().sign + "/rest/api/documents", R"({"Content":"AAAA","Signature":"x"})", token1_},
        {v1().sign + "/rest/api/transactions",
         R"({"OperationCode":"ChangePin","Parameters":[{"Name":1}]})", token1_},
        {v1().sign + "/rest/api/keys/agree", R"({"PublicKeyInfo":5})", token1_},
        {v1().sign + "/rest/api/certificates/1/pin", R"({"OldPin":null})", token1_},
        {v1().sign + "/rest/api/certificates/pfx", R"({"Pfx":"%%%","Password":""})", token1_},
        {v1().sign + "/rest/api/keys/1/params", R"({"Param":"","Data":""})", token1_},
    };
    for (const auto& c : cases) {
        HttpResult r = post(c.url, c.token, c.body);
        EXPECT_EQ(r.status, 400) << c.url << " " << c.body << " -> " << r.body;
        EXPECT_FALSE(json(r.body)["error"].asString().empty()) << r.body;
    }
    // The "v2/" requests report the refusal in the operation envelope.
    Json::Value v2r = json(post(v2().sign + "/rest/api/v2/signature", token2_,
                                R"({"Signature":{"Type":1,"CertificateId":1},"BinaryData":[1]})")
                               .body);
    EXPECT_EQ(v2r["Operation"]["Status"].asString(), "Error");
    EXPECT_EQ(v2r["Operation"]["Error"].asString(), "invalid_request");
    // A malformed request does not disturb the next one.
    EXPECT_EQ(getApi("/certificates").status, 200);
}

TEST_F(SignServerTest, Version1ConfirmationMustMatchTheRequest) {
    svc().configure(json(R"({"policy": {"mfa": {"DeleteCertificate": true, "CreateRequest": true}},
                             "confirmation": {"polls": 0}})"));
    // Creates a transaction and confirms it; returns the access token bound to it.
    auto confirmed = [&](const std::string& code,
                         const std::vector<std::pair<std::string, std::string>>& params) {
        Json::Value tx;
        tx["OperationCode"] = code;
        tx["Parameters"] = Json::Value(Json::arrayValue);
        for (const auto& p : params) {
            Json::Value e;
            e["Name"] = p.first;
            e["Value"] = p.second;
            tx["Parameters"].append(e);
        }
        HttpResult created = signedPost(v1().sign + "/rest/api/transactions", token1_, compact(tx));
        EXPECT_EQ(created.status, 200) << created.body;
        Json::Value first;
        first["Resource"] = v1().resource;
        first["ClientId"] = "veltra.cloud.csp";
        first["TransactionTokenId"] = json(created.body).asString();
        Json::Value ch = json(post(v1().auth + "/confirmation", token1_, compact(first)).body);
        Json::Value answer;
        answer["ChallengeResponse"]["TextChallengeResponse"][0]["RefId"] =
            ch["Challenge"]["TextChallenge"][0]["RefID"];
        answer["Resource"] = v1().resource;
        answer["ClientId"] = "veltra.cloud.csp";
        return json(post(v1().auth + "/confirmation", token1_, compact(answer)).body)["AccessToken"]
            .asString();
    };
    EXPECT_EQ(errorOf(del(v1().sign + "/rest/api/certificates/1", token1_)), "invalid_transaction");
    std::string forOne = confirmed("DeleteCertificate", {{"CertificateID", "1"}});
    ASSERT_FALSE(forOne.empty());
    EXPECT_EQ(errorOf(del(v1().sign + "/rest/api/certificates/2", forOne)), "invalid_transaction");
    // The mismatch used the transaction up.
    EXPECT_EQ(errorOf(del(v1().sign + "/rest/api/certificates/1", forOne)), "invalid_transaction");
    std::string again = confirmed("DeleteCertificate", {{"CertificateID", "1"}});
    EXPECT_EQ(del(v1().sign + "/rest/api/certificates/1", again).status, 200);

    Json::Value gen;
    gen["AlgId"] = "11849";
    gen["ParametersOid"] = "1.2.840.10045.3.1.7";
    gen["PinCode"] = "1";
    std::string other =
        confirmed("CreateRequest", {{"AlgId", "11849"}, {"ParamSetOid", "1.3.14.3.2.22"}});
    EXPECT_EQ(errorOf(post(v1().sign + "/rest/api/keys/generate", other, compact(gen))),
              "invalid_transaction");
    std::string same =
        confirmed("CreateRequest", {{"AlgId", "11849"}, {"ParamSetOid", "1.2.840.10045.3.1.7"}});
    HttpResult made = post(v1().sign + "/rest/api/keys/generate", same, compact(gen));
    EXPECT_EQ(made.status, 200) << made.body;
    EXPECT_TRUE(json(made.body)["HasPin"].asBool());
}

}  // namespace
}  // namespace nimbex_test
