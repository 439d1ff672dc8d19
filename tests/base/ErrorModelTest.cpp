#include <capi/wintypes.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>

#include "base/CryptoAPIException.h"
#include "base/ErrorBoundary.h"
#include "base/KelException.h"

TEST(KelException, CodeZeroBecomesGeneralFailure) {
    EXPECT_EQ(KelException("x", 0).code(), 0x80090020u);
    EXPECT_EQ(KelException("x", 2).code(), 2u);
    EXPECT_EQ(KelException("x", 0x8010006E).code(), 0x8010006Eu);
}

TEST(KelException, NarrowAndWideMessages) {
    const KelException e("x", 87);
    EXPECT_STREQ(e.what(), "Cloud exception: x");
    EXPECT_EQ(std::strlen(e.what()), 18u);
    EXPECT_EQ(std::wcslen(e.wide_what()), 18u);
    EXPECT_EQ(std::wstring(e.wide_what()), L"Cloud exception: x");

    // The narrow text is UTF-8; the wide one holds characters.
    const KelException u("\xC3\xA9t\xC3\xA9", 1);
    EXPECT_EQ(std::strlen(u.what()), 17u + 5u);
    EXPECT_EQ(std::wstring(u.wide_what()), L"Cloud exception: \u00E9t\u00E9");

    const KelException empty("", 1);
    EXPECT_STREQ(empty.what(), "Cloud exception: ");
}

TEST(CryptoAPIException, MessageFromTheSystemTable) {
    for (uint32_t code : {87u, 2u, 0x80090020u, 0x7654321u}) {
        const veltra::CryptoAPIException e(code);
        EXPECT_STREQ(e.what(), "");
        EXPECT_EQ(e.code(), code);
        // The expectation is built from the platform's own table.
        char system[512] = {};
        const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, code, 0, system, 400, nullptr);
        char expected[600];
        if (n)
            std::snprintf(expected, sizeof(expected), "Error code 0x%x: %s", code, system);
        else
            std::snprintf(expected, sizeof(expected), "Error code 0x%x.", code);
        EXPECT_EQ(e.message(), expected) << code;
    }
    const veltra::CryptoAPIException e87(87);
    EXPECT_EQ(e87.message().rfind("Error code 0x57", 0), 0u);
}

TEST(Boundary, CodesOfEveryKindOfFailure) {
    EXPECT_EQ(Boundary([]() -> uint32_t { return 0; }), 0u);
    EXPECT_EQ(Boundary([]() -> uint32_t { return 234; }), 234u);
    EXPECT_EQ(Boundary([]() -> uint32_t { throw KelException("no such item", 2); }), 2u);
    EXPECT_EQ(Boundary([]() -> uint32_t { throw KelException("cancel", 0x8010006E); }),
              0x8010006Eu);
    EXPECT_EQ(Boundary([]() -> uint32_t { throw veltra::CryptoAPIException(87); }), 0x80090020u);
    EXPECT_EQ(Boundary([]() -> uint32_t { throw std::bad_alloc(); }), 0x80090020u);
    EXPECT_EQ(Boundary([]() -> uint32_t { throw std::length_error("long"); }), 0x80090020u);
    EXPECT_EQ(Boundary([]() -> uint32_t { throw 42; }), 0x80090020u);
    EXPECT_EQ(Boundary([]() -> uint32_t { throw std::bad_alloc(); }, 0x8009000E), 0x8009000Eu);
}

TEST(CatchAll, EveryExceptionBecomesTheGivenCode) {
    EXPECT_EQ(CatchAll([]() -> uint32_t { return 7; }), 7u);
    EXPECT_EQ(CatchAll([]() -> uint32_t { throw KelException("x", 2); }), 0x80090020u);
    EXPECT_EQ(CatchAll([]() -> uint32_t { throw KelException("x", 2); }, 0x8009000E), 0x8009000Eu);
    EXPECT_EQ(CatchAll([]() -> uint32_t { throw std::bad_alloc(); }, 0x8009000E), 0x8009000Eu);
}
