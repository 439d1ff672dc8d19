// Providers registered in the configuration registry. Their order, types,
// parameter 0x81 and reader entries are what the provider selection reads:
// CloudCertificateLinkTest covers them through it.
#include <capi/wincrypt.h>
#include <gtest/gtest.h>

#include <vector>

#include "TempEnv.h"
#include "TestProviders.h"

// The size query of the reader list answers the longest entry, not the first,
// so that one buffer of that size takes every entry.
TEST(Providers, ReaderListSizeQueryAnswersTheLongestEntry) {
    nimbex_test::TempEnv env;
    nimbex_test::RegisterProvider("RSA One", 24, 1, {{"a", "CLOUD"}, {"b", "OTHER READER"}});
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, L"RSA One", 24, CRYPT_VERIFYCONTEXT));
    DWORD size = 0;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_ENUMREADERS, nullptr, &size, CRYPT_FIRST));
    EXPECT_EQ(sizeof("b") + sizeof("OTHER READER"), size);
    std::vector<BYTE> entry(size);
    DWORD length = 2;
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMREADERS, entry.data(), &length, CRYPT_FIRST));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    for (DWORD flags : {DWORD(CRYPT_FIRST), DWORD(0)}) {
        length = size;
        EXPECT_TRUE(CryptGetProvParam(prov, PP_ENUMREADERS, entry.data(), &length, flags));
    }
    EXPECT_STREQ("OTHER READER", reinterpret_cast<const char*>(entry.data()) + 2);
    length = size;
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMREADERS, entry.data(), &length, 0));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, GetLastError());
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
}
