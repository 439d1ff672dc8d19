// Checks that the protocol code leaves no copy of a secret in memory it
// releases: every block freed through operator delete while a check is armed
// is searched for the secrets before it goes back to the allocator.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/KelException.h"
#include "protocol/AuthResponse.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/RequestHeaders.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

namespace {

std::atomic<bool> g_armed{false};
const char* g_secrets[4] = {};
std::atomic<int> g_leaks{0};

void Inspect(void* p) {
    if (!p || !g_armed.load()) return;
    size_t n = malloc_usable_size(p);
    for (const char* s : g_secrets) {
        if (s && memmem(p, n, s, std::strlen(s))) ++g_leaks;
    }
}

// Arms the check for the lifetime of the object.
class LeakCheck {
  public:
    LeakCheck(std::initializer_list<const char*> secrets) {
        size_t i = 0;
        for (const char* s : secrets) g_secrets[i++] = s;
        g_leaks = 0;
        g_armed = true;
    }
    ~LeakCheck() {
        g_armed = false;
        for (const char*& s : g_secrets) s = nullptr;
    }
    int leaks() const { return g_leaks.load(); }
};

}  // namespace

void* operator new(size_t n) {
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    Inspect(p);
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    Inspect(p);
    std::free(p);
}

namespace {

// Long enough that std::string keeps them on the heap.
const char kAccess[] = "ACCESS-TOKEN-4f1b9c2e7a0d";
const char kConf[] = "CONFIRMATION-TOKEN-77aa91bc";
const char kIdSig[] = "IDTOKENSIGNATURE0123456789";

std::string IdToken() {
    std::string claims = R"({"exp":2000000000,"sub":"someone-with-a-long-name"})";
    return "eyJhbGciOiJSUzI1NiJ9." + EncodeBase64(claims.data(), claims.size()) + "." + kIdSig;
}

}  // namespace

TEST(SecretWipeTest, TheCheckSeesAnUnwipedCopy) {
    LeakCheck check({kAccess});
    { std::string copy(kAccess); }
    EXPECT_EQ(1, check.leaks());
}

TEST(SecretWipeTest, DecodeAuthResponseWipesItsCopies) {
    KelUrlRetriever transport(0, 0, false, true, true);
    AuthParameters p = {{"access_token", kAccess},
                        {"expires_in", "3600"},
                        {"id_token", IdToken()},
                        {"conf_token", kConf},
                        {"conf_token_expires_in", "60"}};
    // Outputs that already hold tokens: their old text must be wiped too.
    std::string access = std::string(kConf) + "-old", id = IdToken(), conf = kAccess;
    TSupTime a, i, c;
    {
        LeakCheck check({kAccess, kConf, kIdSig});
        DecodeAuthResponse(transport, p, access, a, id, i, conf, c);
        EXPECT_EQ(0, check.leaks());
    }
    EXPECT_EQ(kAccess, access);
    EXPECT_EQ(kConf, conf);
    EXPECT_EQ(IdToken(), id);
}

TEST(SecretWipeTest, DecodeAuthResponseWipesOnFailure) {
    KelUrlRetriever transport(0, 0, false, true, true);
    AuthParameters p = {{"access_token", kAccess}, {"expires_in", "0"}, {"id_token", IdToken()}};
    std::string access, id, conf;
    TSupTime a, i, c;
    LeakCheck check({kAccess, kIdSig});
    EXPECT_THROW(DecodeAuthResponse(transport, p, access, a, id, i, conf, c), KelException);
    EXPECT_EQ(0, check.leaks());
}

TEST(SecretWipeTest, BasicCredentialsAreWiped) {
    const char password[] = "PASSWORD-very-secret-123";
    std::string encoded = EncodeBase64((std::string("user:") + password).data(), 5 + 24);
    const std::string empty, login = "user", secret = password;
    std::vector<std::string> headers;
    {
        LeakCheck check({password, encoded.c_str()});
        headers = MakeRequestHeaders(empty, empty, login, secret);
        EXPECT_EQ(0, check.leaks());
    }
    EXPECT_EQ("Authorization: Basic " + encoded, headers[0]);
}

namespace {
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
}  // namespace

TEST(SecretWipeTest, SigningStringIsWiped) {
    HostContext host = {};
    host.callbacks.hmac = Hmac;
    host.callbacks.random = Random;
    HttpMessageSignatureCreator signer(&host);
    std::vector<std::string> headers = {std::string("Authorization: Bearer ") + kAccess};
    std::string line;
    {
        LeakCheck check({kAccess});
        line = signer.CreateSignature("https://h/ss/rest/api/sign", headers, std::string(100, 'b'));
        EXPECT_EQ(0, check.leaks());
    }
    EXPECT_EQ(0u, line.find("VL-Signature: headers=\"(request-target) authorization\""));
}
