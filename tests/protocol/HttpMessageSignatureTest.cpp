#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <boost/make_shared.hpp>
#include <regex>

#include "KelAssertions.h"
#include "base/ErrorCodes.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/TextEncoding.h"

namespace {

// What the host saw on its last calls.
struct HostLog {
    CallerContext context;
    uintptr_t algId = 0;
    std::string key;
    std::string data;
    uint32_t lengthIn = 0;
    uintptr_t randomLength = 0;
    uint32_t hmacResult = 0;
    uint32_t randomResult = 0;
    uint32_t reportedLength = 0;  // non-zero: the MAC length the host reports
};
HostLog g_log;

uint32_t TestHmac(uintptr_t c1, uintptr_t c2, uintptr_t c3, uintptr_t c4, uintptr_t c5,
                  uintptr_t c6, uintptr_t c7, uintptr_t algId, const unsigned char* key,
                  uintptr_t keyLength, const unsigned char* data, uintptr_t dataLength,
                  unsigned char* out, uint32_t* length) {
    g_log.context = CallerContext{{c1, c2, c3, c4, c5, c6, c7}};
    g_log.algId = algId;
    g_log.key.assign(reinterpret_cast<const char*>(key), keyLength);
    g_log.data.assign(reinterpret_cast<const char*>(data), dataLength);
    g_log.lengthIn = *length;
    if (g_log.hmacResult) return g_log.hmacResult;
    unsigned int n = *length;
    if (!HMAC(EVP_sha256(), key, static_cast<int>(keyLength), data, dataLength, out, &n)) return 1;
    *length = g_log.reportedLength ? g_log.reportedLength : n;
    return 0;
}

uint32_t TestRandom(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                    unsigned char* out, uintptr_t length) {
    g_log.randomLength = length;
    if (g_log.randomResult) return g_log.randomResult;
    if (length && RAND_bytes(out, static_cast<int>(length)) != 1) return 1;
    return 0;
}

std::string Bytes(const std::vector<unsigned char>& v) {
    return std::string(v.begin(), v.end());
}

std::string HmacSha256(const std::string& key, const std::string& data) {
    unsigned char mac[32];
    unsigned int n = sizeof(mac);
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &n);
    return std::string(reinterpret_cast<char*>(mac), n);
}

struct SignatureLine {
    std::string headers, key, signature;
};

SignatureLine ParseLine(const std::string& line) {
    static const std::regex form(
        "VL-Signature: headers=\"([^\"]*)\", key=\"([A-Za-z0-9+/=]*)\", "
        "signature=\"([A-Za-z0-9+/=]*)\"");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, form)) << line;
    if (m.empty()) return {};
    return {m[1], Bytes(DecodeBase64(m[2])), Bytes(DecodeBase64(m[3]))};
}

class SignatureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_log = HostLog();
        host.caller = CallerContext{{11, 22, 33, 44, 55, 66, 77}};
        host.callbacks = CallbackTable();
        host.callbacks.hmac = TestHmac;
        host.callbacks.random = TestRandom;
        signer = MakeMessageSignatureCreator(&host);
    }

    using Outcome = std::pair<std::string, uint32_t>;
    Outcome Failure(const std::string& url, const std::vector<SecretString>& headers) {
        const KelException e =
            nimbex_test::CaughtKelException([&] { signer->CreateSignature(url, headers, ""); });
        return {nimbex_test::KelMessage(e), e.code()};
    }

    HostContext host;
    boost::shared_ptr<HttpMessageSignatureCreatorBase> signer;
};

}  // namespace

TEST_F(SignatureTest, ExactLineSigningStringAndHmac) {
    const std::string body = R"({"Content":"YWJj"})";
    std::vector<SecretString> headers = {"Authorization: Bearer eyJ0.x-y_z",
                                         "Content-Type: application/json; charset=utf-8"};
    std::string line = signer->CreateSignature(
        "https://sign.example:8443/ss/rest/api/signature?v=2", headers, body);

    SignatureLine s = ParseLine(line);
    EXPECT_EQ("(request-target) authorization content-type", s.headers);
    EXPECT_EQ(32u, s.key.size());
    const std::string signing =
        "(request-target): post /ss/rest/api/signature?v=2\n"
        "authorization: Bearer eyJ0.x-y_z\n"
        "content-type: application/json; charset=utf-8";
    EXPECT_EQ(signing + body, g_log.data);
    EXPECT_EQ(s.key, g_log.key);
    EXPECT_EQ(HmacSha256(s.key, signing + body), s.signature);
    EXPECT_EQ(0x8021u, g_log.algId);
    EXPECT_EQ(32u, g_log.lengthIn);
    EXPECT_EQ(32u, g_log.randomLength);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(host.caller.words[i], g_log.context.words[i]);
}

TEST_F(SignatureTest, SigningStringShapes) {
    const struct {
        const char* url;
        std::vector<SecretString> headers;
        const char *body, *names, *signing;
    } cases[] = {
        {"http://h/p", {}, "", "(request-target)", "(request-target): post /p"},
        // Names lowered, in order, duplicates kept, values untrimmed.
        {"https://h/a",
         {"X-A: 1", "x-a:2", "Cache-Control:  no "},
         "B",
         "(request-target) x-a x-a cache-control",
         "(request-target): post /a\nx-a: 1\nx-a:2\ncache-control:  no B"},
        // An empty value and a colon inside the value.
        {"https://h/a",
         {"Empty:", "Host: h:8443"},
         "",
         "(request-target) empty host",
         "(request-target): post /a\nempty:\nhost: h:8443"},
    };
    std::string previousKey;
    for (const auto& c : cases) {
        SignatureLine s = ParseLine(signer->CreateSignature(c.url, c.headers, c.body));
        EXPECT_EQ(c.names, s.headers);
        EXPECT_EQ(c.signing, g_log.data);
        EXPECT_NE(previousKey, s.key);  // a fresh key per call
        previousKey = s.key;
    }
}

TEST_F(SignatureTest, Failures) {
    const Outcome badUrl("Wrong url has come for signature", codes::kFail);
    EXPECT_EQ(badUrl, Failure("https://host", {}));
    EXPECT_EQ(badUrl, Failure("host/path", {}));
    EXPECT_EQ(Outcome("Wrong HTTP header", codes::kFail),
              Failure("https://h/a", {"Good: 1", "no colon here"}));
    EXPECT_EQ(0u, g_log.randomLength);  // nothing reached the host

    // The host's failures carry the host's code.
    g_log.randomResult = 0x80090025;
    EXPECT_EQ(Outcome("Cannot generate random", 0x80090025), Failure("https://h/a", {}));
    g_log.randomResult = 0;
    g_log.hmacResult = 1234;
    EXPECT_EQ(Outcome("Cannot compute HMAC", 1234), Failure("https://h/a", {}));

    host.callbacks.hmac = nullptr;
    EXPECT_THROW(ComputeHmac(&host, {1}, "d"), KelException);
    EXPECT_THROW(GenerateRandom(nullptr, 32), KelException);
}

TEST_F(SignatureTest, HmacIsAlwaysThe32ByteBuffer) {
    // The length the host reports back does not shorten the MAC.
    g_log.reportedLength = 20;
    std::vector<unsigned char> key(32, 7);
    std::vector<unsigned char> mac = ComputeHmac(&host, key, "data");
    ASSERT_EQ(32u, mac.size());
    EXPECT_EQ(HmacSha256(std::string(32, 7), "data"), Bytes(mac));
}
