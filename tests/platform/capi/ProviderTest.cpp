// Providers registered in the configuration registry.
#include <capi/wincrypt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TempEnv.h"
#include "TestProviders.h"

namespace {

struct Listed {
    std::wstring name;
    DWORD type;
};

std::vector<Listed> ListProviders() {
    std::vector<Listed> out;
    for (DWORD i = 0;; ++i) {
        DWORD type = 0, size = 0;
        if (!CryptEnumProvidersW(i, nullptr, 0, &type, nullptr, &size)) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, GetLastError());
            break;
        }
        std::vector<WCHAR> name(size / sizeof(WCHAR));
        EXPECT_TRUE(CryptEnumProvidersW(i, nullptr, 0, &type, name.data(), &size));
        out.push_back({name.data(), type});
    }
    return out;
}

std::vector<std::string> Readers(HCRYPTPROV prov) {
    std::vector<std::string> out;
    DWORD size = 0;
    if (!CryptGetProvParam(prov, PP_ENUMREADERS, nullptr, &size, CRYPT_FIRST)) return out;
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        std::vector<BYTE> entry(size, 0);
        DWORD length = size;
        if (!CryptGetProvParam(prov, PP_ENUMREADERS, entry.data(), &length, flags)) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, GetLastError());
            break;
        }
        flags = 0;
        const char* first = reinterpret_cast<const char*>(entry.data());
        out.push_back(std::string(first) + "|" + (first + strlen(first) + 1));
    }
    return out;
}

}  // namespace

TEST(Providers, EnumeratedInNameOrderWithTheSizeRule) {
    nimbex_test::TempEnv env;
    EXPECT_TRUE(ListProviders().empty());
    nimbex_test::RegisterProvider("Beta", 24, 1, {});
    nimbex_test::RegisterProvider("Alpha", 75, -1, {{"cloud", "CLOUD"}});
    std::vector<Listed> listed = ListProviders();
    ASSERT_EQ(2u, listed.size());
    EXPECT_EQ(L"Alpha", listed[0].name);
    EXPECT_EQ(75u, listed[0].type);
    EXPECT_EQ(L"Beta", listed[1].name);
    EXPECT_EQ(24u, listed[1].type);
    DWORD type = 0, size = 4;
    WCHAR small[1];
    EXPECT_FALSE(CryptEnumProvidersW(0, nullptr, 0, &type, small, &size));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_EQ(6 * sizeof(WCHAR), size);
}

// What the provider selection asks: parameter 0x81 and the reader list.
TEST(Providers, VerifyContextAnswersParametersAndReaders) {
    nimbex_test::TempEnv env;
    nimbex_test::RegisterProvider("RSA One", 24, 1, {{"a", "CLOUD"}, {"b", "OTHER READER"}});
    nimbex_test::RegisterProvider("RSA Two", 24, -1, {});
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, L"RSA One", 24, CRYPT_VERIFYCONTEXT));
    DWORD value = 0, size = sizeof value;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_PREFERRED, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(1u, value);
    EXPECT_EQ((std::vector<std::string>{"a|CLOUD", "b|OTHER READER"}), Readers(prov));
    EXPECT_EQ(2u, Readers(prov).size());  // CRYPT_FIRST starts over
    size = 0;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_ENUMREADERS, nullptr, &size, CRYPT_FIRST));
    EXPECT_EQ(sizeof("b") + sizeof("OTHER READER"), size);  // the longest entry
    BYTE tiny[2];
    DWORD tinySize = 2;
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMREADERS, tiny, &tinySize, CRYPT_FIRST));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_TRUE(CryptReleaseContext(prov, 0));

    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, L"RSA Two", 24, CRYPT_VERIFYCONTEXT));
    size = sizeof value;
    EXPECT_FALSE(CryptGetProvParam(prov, PP_PREFERRED, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_TRUE(Readers(prov).empty());
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
    EXPECT_FALSE(CryptAcquireContextW(&prov, nullptr, L"Missing", 24, CRYPT_VERIFYCONTEXT));
}
