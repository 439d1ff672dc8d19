// PIN, document hashes, signing, key agreement and key generation through
// the built libnimbex.so, driven by the CSP host against the local service:
// exact requests from its log, signatures verified and agreed keys
// recomputed with OpenSSL, CMS signatures checked by the openssl program.
#include <nimbex/reader.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "CmsSigner.h"
#include "ReaderContainerFixture.h"
#include "TestCertificates.h"
#include "protocol/DocumentStoreRequests.h"
#include "protocol/SignatureRequests.h"
#include "protocol/TextEncoding.h"

namespace {

using Bytes = std::vector<unsigned char>;
using csphost::Host;
using csphost::HostError;
using csphost::Session;

constexpr uint32_t kRsaKey = 1, kEcKey = 2, kSha256 = 0x800C;

using nimbex_test::DigestOf;
using nimbex_test::PublicKeyOf;
using nimbex_test::VerifiesSha256;

class ReaderSigning : public nimbex_test::ReaderContainerFixture {
  protected:
    // The service saved, its policy set (signing requests must be signed), the demo keys
    // linked as "rsa" and "ec".
    void Prepare(const std::string& name, bool confirm) {
        SaveService(name);
        Json::Value settings;
        settings["requireMessageSignature"] = true;
        settings["confirmation"]["polls"] = 0;
        for (const char* action : {"SignDocument", "PrivateKeyAccess", "ChangePin"})
            settings["policy"]["mfa"][action] = confirm;
        service.configure(settings);
        rsa = Link("rsa", kRsaKey, AT_SIGNATURE, kRsaKey);
        ec = Link("ec", kEcKey, AT_SIGNATURE, kEcKey);
        setenv("NIMBEX_TEST_PIN", "1234", 1);
    }
    // The request lines since the last reset, document ids as {id}.
    std::string Sequence() {
        std::string out;
        for (const std::string& line : Requests())
            out += (out.empty() ? "" : " ") +
                   std::regex_replace(line, std::regex("doc-[\\w-]+"), "{id}");
        return out;
    }
    // The last request whose path ends in `end`.
    Json::Value Last(const std::string& end) {
        const Json::Value log = service.requestLog();
        for (Json::ArrayIndex i = log.size(); i-- > 0;)
            if (std::regex_search(log[i]["path"].asString(), std::regex(end + "$"))) return log[i];
        return Json::Value();
    }
    // Version 2: the last signature's documents as its download and deletions name them (the
    // data, the display document when there is one, the signature); none is left in the store.
    Json::Value Documents(bool display) {
        const Json::Value log = service.requestLog();
        const Json::ArrayIndex n = log.size();
        const auto id = [&](Json::ArrayIndex i) { return log[i]["path"].asString().substr(29); };
        EXPECT_EQ(id(n - (display ? 4 : 3)), id(n - 1) + "/content");
        Json::Value documents;
        documents["RefId"] = id(n - (display ? 3 : 2));
        if (display) documents["RelatedRefId"] = id(n - 2);
        for (const auto& e : std::filesystem::directory_iterator(service.stateDir() + "/documents"))
            EXPECT_NE(e.path().filename().string().rfind("doc-", 0), 0u) << e.path();
        return documents;
    }
    // The signing request's body with the EC key: version 1 with the data (confirmed: the PIN
    // alone, the data went with the transaction), version 2 over the stored documents.
    static std::string SignBody(bool v2, bool confirm, const Bytes& data, uint32_t algorithm,
                                const Json::Value& documents) {
        Json::Value body;
        body["Signature"]["PinCode"] = "1234";
        if (!v2 && confirm) return Json::FastWriter().write(body);
        if (v2) {
            body["BinaryData"][0] = documents;
        } else {
            body["Content"] = EncodeBase64(data.data(), data.size());
            body["Name"] = kSignedDocumentName;
        }
        body["Signature"]["CertificateId"] = kEcKey;
        body["Signature"]["Type"] = 1;
        body["Signature"]["Parameters"]["Hash"] = "True";
        if (algorithm) body["Signature"]["Parameters"]["HashAlgorithm"] = algorithm;
        return Json::FastWriter().write(body);
    }
    Bytes rsa, ec;
};

struct Generation {
    const char* service;
    bool confirm;
    const char* signRequests;  // of one signature after the first
};
class SignHashes : public ReaderSigning, public ::testing::WithParamInterface<Generation> {};

// Hashes signed with both keys, whole and split; a CMS signature of a file
// over the reader's hashes; key agreement in its short and (version 2) long
// form.
TEST_P(SignHashes, SignsAgreesAndSignsCms) {
    const Generation g = GetParam();
    const bool v2 = std::string(g.service) == "local-v2";
    Prepare(g.service, g.confirm);
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(size_t(0));
    session.Lock();
    const Bytes hash = DigestOf(EVP_sha256(), {'m', 's', 'g'});
    // The length alone, then the signature into a buffer of exactly that length.
    session.OpenContainer("rsa");
    const Bytes reversed(hash.rbegin(), hash.rend());
    Bytes signature(600, 0xEE);
    CloudSignHashRecord record{0, reversed.data(), 32, 0, nullptr, 0, 0, 0, kSha256};
    ASSERT_EQ(host.module().Call(CLOUD_SIGN_HASH, session.context(), &record), 0u);
    const uintptr_t queried = record.signatureLength;
    record.signature = signature.data();
    ASSERT_EQ(host.module().Call(CLOUD_SIGN_HASH, session.context(), &record), 0u);
    EXPECT_EQ(record.signatureLength, queried);
    EXPECT_EQ(signature[queried], 0xEE);
    signature.resize(queried);
    EXPECT_TRUE(VerifiesSha256(rsa, hash, Bytes(signature.rbegin(), signature.rend())));
    session.OpenContainer("ec");
    EXPECT_TRUE(VerifiesSha256(ec, hash, session.SignHash(hash, kSha256)));
    service.reset();
    EXPECT_TRUE(VerifiesSha256(ec, hash, session.SignHashSplit(hash)));
    EXPECT_EQ(Sequence(), g.signRequests);
    // The split signature has no hash algorithm; version 2 uploads the hash as it is.
    EXPECT_EQ(Last(v2 ? "/v2/signature" : "/rest/api/documents")["body"].asString(),
              SignBody(v2, g.confirm, hash, 0, v2 ? Documents(false) : Json::Value()));
    if (v2) {
        EXPECT_EQ(service.requestLog()[0]["bodyBase64"].asString(),
                  EncodeBase64(hash.data(), hash.size()));
        EXPECT_EQ(service.requestLog()[0]["headers"]["vlkel-postdoc"].asString(),
                  MakeUploadMetadata(32));
    }

    // CMS: the document goes along as the display document (version 2, and
    // in the transaction of a confirmed version 1 signature), and version 1
    // signs the signed attributes as the document.
    nimbex_test::TempDir dir;
    const std::string doc = dir.path() + "/doc.txt", sig = dir.path() + "/doc.p7s";
    const std::string text = "A document \xFF signed as CMS\n";
    std::ofstream(doc) << text;
    service.reset();
    csphost::CmsSigner(session).SignFile(doc, sig,
                                         v2 ? csphost::CmsFormat::kPem : csphost::CmsFormat::kDer);
    const std::string verify = "openssl cms -verify -binary -inform " +
                               std::string(v2 ? "PEM" : "DER") + " -purpose any -in " + sig +
                               " -content " + doc + " -CAfile " + service.caFile() +
                               " -out /dev/null 2>/dev/null";
    EXPECT_EQ(system(verify.c_str()), 0) << verify;
    const Json::Value sign = Last(v2 ? "/v2/signature" : "/rest/api/documents");
    if (v2) {
        bool uploaded = false;
        for (const Json::Value& r : service.requestLog())
            uploaded |= r.isMember("bodyBase64") &&
                        DecodeBase64(r["bodyBase64"].asString()) == Bytes(text.begin(), text.end());
        EXPECT_TRUE(uploaded) << "the document uploaded";
        EXPECT_EQ(sign["body"].asString(), SignBody(true, g.confirm, {}, kSha256, Documents(true)));
    } else if (!g.confirm) {
        Json::Value body;
        Json::Reader().parse(sign["body"].asString(), body);
        const std::string content = body["Content"].asString();
        EXPECT_EQ(DecodeBase64(content)[0], 0x31) << "the signed attributes, not a hash";
        EXPECT_EQ(body["Signature"]["Parameters"]["HashAlgorithm"].asUInt(), kSha256);
        EXPECT_FALSE(body["Signature"]["Parameters"].isMember("Hash"));
    } else {  // the confirmed transaction shows the document
        const std::string shown = EncodeBase64(text.data(), text.size());
        EXPECT_NE(Last("/transactions")["body"].asString().find(shown), std::string::npos);
    }

    // Key agreement with a peer key: SHA-256 (SHA-512 in the long form) of
    // the shared x-coordinate and the keying material, masked; the request
    // carries the point, the keying material and the mask as they are.
    EVP_PKEY* peer = EVP_EC_gen("P-256");
    unsigned char point[65];
    size_t pointLength = 0;
    EVP_PKEY_get_octet_string_param(peer, OSSL_PKEY_PARAM_PUB_KEY, point, 65, &pointLength);
    EVP_PKEY* ours = PublicKeyOf(ec);
    EVP_PKEY_CTX* derive = EVP_PKEY_CTX_new(peer, nullptr);
    Bytes z(32);
    size_t zLength = 32;
    EVP_PKEY_derive_init(derive);
    EVP_PKEY_derive_set_peer(derive, ours);
    EVP_PKEY_derive(derive, z.data(), &zLength);
    const Bytes x(point + 1, point + 33), y(point + 33, point + 65), ukm{1, 2, 3, 4, 5, 6, 7, 8};
    for (const size_t length : {size_t(32), size_t(64)}) {
        if (length == 64 && !v2) continue;
        Bytes mask(length), expected = z;
        for (size_t i = 0; i < length; ++i) mask[i] = static_cast<unsigned char>(i * 7);
        expected.insert(expected.end(), ukm.begin(), ukm.end());
        expected = DigestOf(length == 64 ? EVP_sha512() : EVP_sha256(), expected);
        for (size_t i = 0; i < length; ++i) expected[i] ^= mask[i];
        EXPECT_EQ(session.AgreeKey(x, y, ukm, mask, length), expected) << length;
        Json::Value body;
        body["CertificateId"] = kEcKey;
        body["Mask"] = EncodeBase64(mask.data(), mask.size());
        body["PinCode"] = "1234";
        body["PublicKeyInfo"] = EncodeBase64(point + 1, 64);  // X then Y
        body["Ukm"] = EncodeBase64(ukm.data(), ukm.size());
        if (length == 64) body["VkoAlgid"] = 26146;
        EXPECT_EQ(Last("keys/agree")["body"].asString(), Json::FastWriter().write(body));
    }
    EVP_PKEY_CTX_free(derive);
    EVP_PKEY_free(ours);
    EVP_PKEY_free(peer);
    session.Unlock();
}

INSTANTIATE_TEST_SUITE_P(
    Generations, SignHashes,
    ::testing::Values(
        Generation{"local-v1", false, "POST /local-v1/rest/api/documents"},
        Generation{"local-v1", true,
                   "POST /local-v1/rest/api/transactions POST /local-v1-auth/confirmation "
                   "POST /local-v1/rest/api/documents"},
        Generation{"local-v2", false,
                   "POST /local-v2-docs/api/documents POST /local-v2/rest/api/v2/signature "
                   "GET /local-v2-docs/api/documents/{id}/content DELETE "
                   "/local-v2-docs/api/documents/{id} DELETE /local-v2-docs/api/documents/{id}"},
        Generation{"local-v2", true,
                   "POST /local-v2-docs/api/documents POST /local-v2/rest/api/v2/signature "
                   "POST /local-v2-auth/v2.0/confirmation "
                   "POST /local-v2/rest/api/v2/signature GET "
                   "/local-v2-docs/api/documents/{id}/content DELETE "
                   "/local-v2-docs/api/documents/{id} DELETE /local-v2-docs/api/documents/{id}"}));

class PinAndKeys : public ReaderSigning, public ::testing::WithParamInterface<const char*> {};

// Wrong PINs count down to blocked; the PIN changes; keys are generated into
// pending containers, which open afterwards; drop_auth signs in again.
TEST_P(PinAndKeys, PinsKeysAndTokens) {
    const std::string name = GetParam(),
                      api = "/" + name + "/rest/api/" + (name == "local-v2" ? "v2/" : "");
    Prepare(name, false);
    Json::Value attempts;
    attempts["pinAttempts"] = 3;
    service.configure(attempts);
    service.resetState();
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(size_t(0));
    session.Lock();
    session.OpenContainer("ec");
    uint32_t tries = 77;
    EXPECT_EQ(session.CheckPin("1234", &tries), 0u);
    EXPECT_EQ(session.CheckPin("0000", &tries), 0x8010006Bu);
    EXPECT_EQ(tries, 2u);
    EXPECT_EQ(session.CheckPin("0000", &tries), 0x8010006Bu);
    EXPECT_EQ(tries, 1u);
    EXPECT_EQ(session.CheckPin("0000", &tries), 0x8010006Cu);
    EXPECT_EQ(session.CheckPin(std::string(65, '1')), 0x8010002Au);

    // Hash objects: the sixth evicts the first; data past MaxDocSize is refused.
    uint32_t handles[6];
    for (uint32_t& handle : handles) handle = session.CreateHash(kSha256);
    const Bytes large((10u << 20) + 1);
    EXPECT_EQ(CodeOf([&] { session.HashData(handles[0], large.data(), 1); }), 2u);
    EXPECT_EQ(CodeOf([&] { session.HashData(handles[5], large.data(), large.size()); }), 4336u);
    session.HashData(handles[5], large.data(), 3);
    EXPECT_EQ(session.HashValue(handles[5]), DigestOf(EVP_sha256(), Bytes(3)));

    // change_pin: ReaderWipeTest, confirmed and checked against the service.
    // Key generation: the policy's sets, RSA among them (after the twelve GOST sets where the
    // service has the GOST engine). The new key gets the first id after the default keys (four
    // with the engine, two without).
    const bool gost = service.readyLine()["gost"]["available"].asBool();
    const std::vector<std::string> sets = session.ParamSets();
    ASSERT_EQ(sets.size(), gost ? 15u : 3u);
    EXPECT_EQ(std::vector<std::string>(sets.end() - 3, sets.end()),
              (std::vector<std::string>{"1.2.840.10045.3.1.7", "1.3.14.3.2.11", "1.3.14.3.2.22"}));
    const uint32_t fresh = gost ? 5 : 3;
    EXPECT_TRUE(session.SupportsRsa());
    setenv("NIMBEX_TEST_PIN", "4321", 1);
    EXPECT_EQ(CodeOf([&] { session.GenerateKey(AT_SIGNATURE, 0x2203, "1.2.840.10045.3.1.7"); }),
              0x8009000Fu)
        << "generated while a container is open";
    EXPECT_EQ(CodeOf([&] { session.GenerateKey(AT_KEYEXCHANGE, 0xAA24, "1.2.840.10045.3.1.7"); }),
              0x80100028u)
        << "a key the open container cannot hold";
    session.CloseContainer();
    EXPECT_EQ(CodeOf([&] { session.GenerateKey(AT_SIGNATURE, 0x2203, "1.2.840.10045.3.1.7"); }),
              0x252D1303u)
        << "generated without a pending container";
    session.OpenContainer("fresh-ec", true);
    service.reset();
    session.GenerateKey(AT_SIGNATURE, 0x2203, "1.2.840.10045.3.1.7", 0x11);
    const std::string params =
        " POST /" + name + "/rest/api/keys/" + std::to_string(fresh) + "/params";
    EXPECT_EQ(Sequence(), "POST " + api + "keys/generate" + params + params);
    const Bytes hash = DigestOf(EVP_sha256(), {'k'});
    EXPECT_TRUE(VerifiesSha256(session.ReadFile(CLOUD_FILE_SIGNATURE_CERTIFICATE), hash,
                               session.SignHash(hash, kSha256)));
    session.CloseContainer();
    session.OpenContainer("fresh-rsa", true);
    unsetenv("NIMBEX_TEST_PIN");  // the host is silent: the key is generated without a PIN
    session.GenerateRsaKey(2048, AT_KEYEXCHANGE, 0xA400);
    EXPECT_EQ(Last("keys/generate")["body"].asString(),
              "{\"AlgId\":\"41984\",\"KeyLength\":\"2048\",\"ParametersOid\":\"1.3.14.3.2.22\","
              "\"PinCode\":\"\"}\n");
    setenv("NIMBEX_TEST_PIN", "4321", 1);
    session.CloseContainer();
    session.OpenContainer("fresh-ec");
    EXPECT_TRUE(VerifiesSha256(session.ReadFile(CLOUD_FILE_SIGNATURE_CERTIFICATE), hash,
                               session.SignHash(hash, kSha256)));

    // drop_auth: the next signature signs in again.
    session.DropAuth();
    service.reset();
    session.SignHash(hash, kSha256);
    EXPECT_EQ(Requests().front(), "POST /" + name + "-auth/oauth/token");
    session.Unlock();

    // A policy without an RSA parameter set: no RSA key range.
    Json::Value policy;
    policy["policy"]["providers"][0]["ProviderType"] = 80;
    policy["policy"]["providers"][0]["SupportedParamSets"][0] = "1.2.840.10045.3.1.7";
    service.configure(policy);
    EXPECT_FALSE(host.Open(size_t(0)).SupportsRsa());
}

// Silent: without saved credentials or a running session nothing can sign
// in, and nothing is signed; a container-less context answers "no container".
TEST_P(PinAndKeys, SilentRefusesInteraction) {
    Prepare(GetParam(), false);
    SaveUserName(entry.name, SecretString(""));
    SavePassword(entry.name, SecretString(""));
    service.resetState();  // no running session to sign in silently with
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(size_t(0));
    const Bytes hash = DigestOf(EVP_sha256(), {'s'});
    EXPECT_EQ(CodeOf([&] { session.SignHash(hash, kSha256); }), 0x252D1303u)
        << "signed without a container";
    CloudSignHashSplitRecord split{};
    EXPECT_EQ(host.module().Call(CLOUD_SIGN_HASH_SPLIT, session.context(), &split), 0x252D1303u)
        << "split without a container";
    EXPECT_EQ(CodeOf([&] { session.CreateHash(kSha256); }), 0x252D1303u);
    session.Lock();
    session.OpenContainer("ec");
    EXPECT_EQ(CodeOf([&] { session.SignHash(hash, kSha256); }), 0x80090022u)
        << "signed without signing in";
    for (const std::string& line : Requests())
        EXPECT_EQ(line.find("documents"), std::string::npos) << line;
    session.Unlock();
}

INSTANTIATE_TEST_SUITE_P(Services, PinAndKeys, ::testing::Values("local-v1", "local-v2"));

}  // namespace
