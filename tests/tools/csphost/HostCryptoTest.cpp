#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostCrypto.h"

namespace {

std::string Hex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < n; ++i) hex += {digits[p[i] >> 4], digits[p[i] & 15]};
    return hex;
}

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

struct DigestCase {
    uintptr_t algId;
    std::string expected;  // of "abc", natural byte order (FIPS 180 examples)
};

TEST(HostCrypto, DigestsOfTheCryptoApiIds) {
    const DigestCase cases[] = {
        {0x8004, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {0x800C, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {0x800D,
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca1"
         "34c825a7"},
        {0x800E,
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23"
         "a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    const std::string abc = "abc";
    for (const DigestCase& c : cases) {
        uint32_t length = 0;
        ASSERT_EQ(csphost::ComputeDigest(c.algId, Bytes(abc), 3, nullptr, &length), 0u);
        ASSERT_EQ(length * 2, c.expected.size()) << std::hex << c.algId;
        std::vector<unsigned char> out(length);
        uint32_t small = length - 1;
        EXPECT_EQ(csphost::ComputeDigest(c.algId, Bytes(abc), 3, out.data(), &small), 234u);
        EXPECT_EQ(small, length);
        ASSERT_EQ(csphost::ComputeDigest(c.algId, Bytes(abc), 3, out.data(), &length), 0u);
        EXPECT_EQ(Hex(out.data(), length), c.expected);
    }
    uint32_t length = 64;
    unsigned char out[64];
    EXPECT_EQ(csphost::ComputeDigest(0x8003, Bytes(abc), 3, out, &length), 0x80090008u);  // MD5
}

// HMAC-SHA256 itself: ReaderServiceTest, whose service verifies every request signature made
// through the host's HMAC.
TEST(HostCrypto, HmacOfAnotherHashAndRandomBytes) {
    const std::string key = "Jefe", data = "what do ya want for nothing?";
    unsigned char mac[32];
    uint32_t length = sizeof mac;
    EXPECT_EQ(csphost::ComputeHmac(0x8009, Bytes(key), key.size(), Bytes(data), data.size(), mac,
                                   &length),
              0x80090008u);

    unsigned char a[32] = {}, b[32] = {};
    ASSERT_EQ(csphost::FillRandom(a, sizeof a), 0u);
    ASSERT_EQ(csphost::FillRandom(b, sizeof b), 0u);
    EXPECT_NE(Hex(a, 32), Hex(b, 32));
}

}  // namespace
