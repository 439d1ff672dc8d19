// The protocol code under the freed-memory scan: decoding an auth answer,
// building credential headers and signing a request release no unwiped copy
// of a token or a password.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "FreedMemoryScan.h"
#include "base/KelException.h"
#include "protocol/AuthResponse.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/RequestHeaders.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

namespace {

using nimbex_test::FreedMemoryScan;

const char kAccess[] = "ACCESS-TOKEN-4f1b9c2e7a0d";
const char kConf[] = "CONFIRMATION-TOKEN-77aa91bc";
const char kIdSig[] = "IDTOKENSIGNATURE0123456789";
const char kPassword[] = "PASSWORD-very-secret-123";

std::string IdToken() {
    const std::string claims = R"({"exp":2000000000,"sub":"someone-with-a-long-name"})";
    return "eyJhbGciOiJSUzI1NiJ9." + EncodeBase64(claims.data(), claims.size()) + "." + kIdSig;
}

// Runs `body` under the scan: no block it releases holds one of `secrets`.
void ExpectNoCopy(std::initializer_list<const char*> secrets, const std::function<void()>& body) {
    FreedMemoryScan scan(secrets);
    body();
    scan.Stop();
    EXPECT_EQ(scan.Leaks(), 0) << scan.FirstLeak();
}

TEST(SecretWipe, DecodingAnAuthAnswerReleasesNoCopy) {
    const KelUrlRetriever transport(0, 0, false, true, true);
    const AuthParameters good = {{"access_token", kAccess},
                                 {"expires_in", "3600"},
                                 {"id_token", IdToken()},
                                 {"conf_token", kConf},
                                 {"conf_token_expires_in", "60"}};
    AuthParameters failing = good;
    failing["expires_in"] = "0";
    // Outputs that already hold tokens: their old text goes too.
    SecretString access = std::string(kConf) + "-old", id = IdToken(), conf = kAccess;
    TSupTime a, i, c;
    ExpectNoCopy({kAccess, kConf, kIdSig}, [&] {
        DecodeAuthResponse(transport, good, access, a, id, i, conf, c);
        EXPECT_THROW(DecodeAuthResponse(transport, failing, access, a, id, i, conf, c),
                     KelException);
    });
    EXPECT_EQ(access, kAccess);
    EXPECT_EQ(conf, kConf);
    EXPECT_EQ(id, IdToken());
}

TEST(SecretWipe, BasicCredentialsReleaseNoCopy) {
    const std::string encoded = EncodeBase64((std::string("user:") + kPassword).data(), 29);
    const SecretString login = "user", password = kPassword;
    std::vector<SecretString> headers;
    ExpectNoCopy({kPassword, encoded.c_str()},
                 [&] { headers = MakeRequestHeaders(SecretString(), "", login, password); });
    EXPECT_EQ(headers[0], "Authorization: Basic " + encoded);
}

uint32_t Hmac(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
              uintptr_t, const unsigned char*, uintptr_t, const unsigned char*, uintptr_t,
              unsigned char* out, uint32_t* length) {
    std::memset(out, 0xAB, *length);
    return 0;
}
uint32_t Random(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                unsigned char* out, uintptr_t length) {
    std::memset(out, 0x5A, length);
    return 0;
}

TEST(SecretWipe, SigningStringReleasesNoCopy) {
    HostContext host = {};
    host.callbacks.hmac = Hmac;
    host.callbacks.random = Random;
    const HttpMessageSignatureCreator signer(&host);
    const std::vector<SecretString> headers = {std::string("Authorization: Bearer ") + kAccess};
    std::string line;
    ExpectNoCopy({kAccess}, [&] {
        line = signer.CreateSignature("https://h/ss/rest/api/sign", headers, std::string(100, 'b'));
    });
    EXPECT_EQ(0u, line.find("VL-Signature: headers=\"(request-target) authorization\""));
}

}  // namespace
