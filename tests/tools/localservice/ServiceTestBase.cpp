#include "ServiceTestBase.h"

#include <openssl/ecdsa.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>

namespace nimbex_test {

LocalService* ServiceTest::service_ = nullptr;

void ServiceTest::SetUpTestSuite() {
    if (!service_) service_ = new LocalService();
}

void ServiceTest::TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
}

void ServiceTest::SetUp() {
    svc().reset();
    svc().resetState();
    svc().configure(json(R"({
        "tokens": {"accessLifetime": 3600, "idLifetime": 36000, "confLifetime": 3600, "issueConfToken": true},
        "confirmation": {"challenge": "text", "polls": 1, "outcome": "approve",
                         "method": "http://schemas.veltra.ru/kel/authenticationmethod/mobile"},
        "policy": {"mfa": {"SignDocument": false, "PrivateKeyAccess": false, "CreateRequest": false,
                           "DeleteCertificate": false, "ChangePin": false}},
        "pinAttempts": 10, "requireMessageSignature": false})"));
}

std::string ServiceTest::grantBody(const LocalServiceUrls& s, const std::string& login,
                                   const std::string& password) {
    return "grant_type=password&username=" + login + "&password=" + password +
           "&scope=kel&client_id=veltra.cloud.csp&resource=" + s.resource;
}

std::string ServiceTest::passwordToken(const LocalServiceUrls& s, const std::string& login,
                                       const std::string& password) {
    HttpResult r = post(s.auth + "/oauth/token", "", grantBody(s, login, password),
                        {"Content-Type: application/json; charset=utf-8"});
    EXPECT_EQ(r.status, 200) << r.body;
    Json::Value v = json(r.body);
    EXPECT_TRUE(v["access_token"].isString()) << r.body;
    return v["access_token"].asString();
}

HttpResult ServiceTest::get(const std::string& url, const std::string& token) {
    std::vector<std::string> h;
    if (!token.empty()) h.push_back("Authorization: Bearer " + token);
    return httpRequest("GET", url, h, "", svc().caFile());
}

HttpResult ServiceTest::post(const std::string& url, const std::string& token,
                             const std::string& body, std::vector<std::string> headers) {
    if (!token.empty()) headers.insert(headers.begin(), "Authorization: Bearer " + token);
    bool typed = false;
    for (const auto& h : headers) typed = typed || h.rfind("Content-Type:", 0) == 0;
    if (!typed) headers.push_back("Content-Type: application/json; charset=utf-8");
    return httpRequest("POST", url, headers, body, svc().caFile());
}

HttpResult ServiceTest::del(const std::string& url, const std::string& token) {
    return httpRequest("DELETE", url, {"Authorization: Bearer " + token}, "", svc().caFile());
}

std::string ServiceTest::vlSignature(const std::string& url,
                                     const std::vector<std::string>& headers,
                                     const std::string& body, const Bytes& key) {
    size_t scheme = url.find("://");
    size_t pathStart = url.find('/', scheme + 3);
    std::string list = "(request-target)";
    std::string signing = "(request-target): post " + url.substr(pathStart);
    for (const auto& h : headers) {
        size_t colon = h.find(':');
        std::string name = h.substr(0, colon);
        for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        signing += "\n" + name + h.substr(colon);
        list += " " + name;
    }
    std::string data = signing + body;
    unsigned char mac[32];
    unsigned int len = 32;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &len);
    return "VL-Signature: headers=\"" + list + "\", key=\"" + b64(key) + "\", signature=\"" +
           b64(Bytes(mac, mac + len)) + "\"";
}

HttpResult ServiceTest::signedPost(const std::string& url, const std::string& token,
                                   const std::string& body, bool corrupt) {
    std::vector<std::string> headers = {"Authorization: Bearer " + token,
                                        "Content-Type: application/json; charset=utf-8",
                                        "Content-Length: " + std::to_string(body.size())};
    Bytes key(32);
    RAND_bytes(key.data(), 32);
    std::string line = vlSignature(url, headers, corrupt ? body + " " : body, key);
    headers.push_back(line);
    return httpRequest("POST", url, headers, body, svc().caFile());
}

Json::Value ServiceTest::json(const std::string& text) {
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    Json::Value v;
    std::string errors;
    if (!r->parse(text.data(), text.data() + text.size(), &v, &errors)) return Json::Value();
    return v;
}

std::string ServiceTest::compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, v);
}

std::string ServiceTest::b64(const Bytes& b) {
    if (b.empty()) return "";
    std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), b.data(),
                            static_cast<int>(b.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

Bytes ServiceTest::unb64(const std::string& s) {
    if (s.empty()) return {};
    Bytes out(s.size());
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(s.data()),
                            static_cast<int>(s.size()));
    if (n < 0) return {};
    size_t pad = 0;
    for (size_t i = s.size(); i > 0 && s[i - 1] == '='; --i) ++pad;
    out.resize(static_cast<size_t>(n) - pad);
    return out;
}

Bytes ServiceTest::certificate(const LocalServiceUrls& s, const std::string& token, uint32_t id) {
    HttpResult r = get(s.sign + "/rest/api/certificates/" + std::to_string(id), token);
    EXPECT_EQ(r.status, 200) << r.body;
    return unb64(json(r.body)["CertificateBase64"].asString());
}

bool ServiceTest::verify(const Bytes& certDer, const Bytes& hash, const Bytes& sig,
                         const EVP_MD* md) {
    const unsigned char* p = certDer.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(certDer.size())), X509_free);
    if (!cert) return false;
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    Bytes der = sig;
    if (EVP_PKEY_is_a(key, "EC")) {
        if (sig.size() != 64) return false;
        ECDSA_SIG* es = ECDSA_SIG_new();
        ECDSA_SIG_set0(es, BN_bin2bn(sig.data(), 32, nullptr),
                       BN_bin2bn(sig.data() + 32, 32, nullptr));
        unsigned char* out = nullptr;
        int len = i2d_ECDSA_SIG(es, &out);
        der.assign(out, out + len);
        OPENSSL_free(out);
        ECDSA_SIG_free(es);
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                    EVP_PKEY_CTX_free);
    if (EVP_PKEY_verify_init(ctx.get()) != 1) return false;
    if (!EVP_PKEY_is_a(key, "EC")) {
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
        EVP_PKEY_CTX_set_signature_md(ctx.get(), md);
    }
    return EVP_PKEY_verify(ctx.get(), der.data(), der.size(), hash.data(), hash.size()) == 1;
}

Bytes ServiceTest::digest(const EVP_MD* md, const std::string& data) {
    Bytes out(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr);
    return out;
}

}  // namespace nimbex_test
