#include <gtest/gtest.h>

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
    EXPECT_EQ(std::wstring(e.wide_what()), L"Cloud exception: x");

    // The narrow text is UTF-8; the wide one holds characters.
    const KelException u("\xC3\xA9t\xC3\xA9", 1);
    EXPECT_EQ(std::strlen(u.what()), 17u + 5u);
    EXPECT_EQ(std::wstring(u.wide_what()), L"Cloud exception: \u00E9t\u00E9");

    const KelException empty("", 1);
    EXPECT_STREQ(empty.what(), "Cloud exception: ");
}

TEST(CryptoAPIException, MessageFromTheSystemTable) {
    const std::pair<uint32_t, const char*> cases[] = {
        {87, "Error code 0x57: The parameter is incorrect."},
        {2, "Error code 0x2: The system cannot find the file specified."},
        {0x80090020u, "Error code 0x80090020: An internal error occurred."},
        {0x7654321u, "Error code 0x7654321."},  // no system text
    };
    for (const auto& c : cases) {
        const veltra::CryptoAPIException e(c.first);
        EXPECT_STREQ(e.what(), "");
        EXPECT_EQ(e.code(), c.first);
        EXPECT_EQ(e.message(), c.second);
    }
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
