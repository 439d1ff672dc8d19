#include <gtest/gtest.h>

#include <stdexcept>

#include "base/Wipe.h"

namespace {

bool AllZero(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

}  // namespace

TEST(Wipe, StringStorageIsZeroedAndKept) {
    // Long enough for a heap block, then shortened so that bytes past size() hold old text.
    std::string secret(64, 'S');
    secret.resize(10);
    const char* storage = secret.data();
    const size_t capacity = secret.capacity();
    WipeString(secret);
    EXPECT_TRUE(secret.empty());
    ASSERT_EQ(secret.data(), storage);  // the same block, still owned
    EXPECT_TRUE(AllZero(storage, capacity));

    std::string shortSecret = "pin1234";  // inside the string object itself
    const char* inline_storage = shortSecret.data();
    const size_t inline_capacity = shortSecret.capacity();
    WipeString(shortSecret);
    EXPECT_TRUE(AllZero(inline_storage, inline_capacity));
}

TEST(Wipe, OnExitWipesOnEveryPath) {
    std::string secret(40, 'P');
    const char* storage = secret.data();
    try {
        WipeOnExit guard(secret);
        throw std::runtime_error("failure while the secret is in use");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(secret.empty());
    EXPECT_TRUE(AllZero(storage, 40));
}

TEST(Wipe, VectorAndBytes) {
    std::vector<unsigned char> bytes(32, 0xAB);
    const unsigned char* storage = bytes.data();
    WipeVector(bytes);
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(AllZero(reinterpret_cast<const char*>(storage), 32));
    char raw[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    WipeBytes(raw, 4);
    EXPECT_TRUE(AllZero(raw, 4));
    EXPECT_EQ(raw[4], 5);
    WipeBytes(nullptr, 10);
}
