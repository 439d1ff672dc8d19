// System texts of the Windows-style error codes.
#include <capi/wintypes.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(FormatMessageTest, KnownCodes) {
    char buffer[256];
    DWORD n = FormatMessageA(kFlags, nullptr, 0x80090020, 0, buffer, sizeof buffer, nullptr);
    EXPECT_EQ(std::string(buffer), "An internal error occurred.");
    EXPECT_EQ(n, 27u);
    const DWORD codes[] = {2,          5,          8,          13,         50,         87,
                           122,        234,        259,        0x80090005, 0x80090008, 0x8009000B,
                           0x8009000D, 0x8009000E, 0x8009000F, 0x80090016, 0x8009001D, 0x8009001F,
                           0x80090022, 0x80090029, 0x8010000F, 0x80100028, 0x8010002A, 0x80100065,
                           0x8010006A, 0x8010006B, 0x8010006C, 0x8010006E, 0x252D1230, 0x252D1303,
                           0x252D1304};
    for (DWORD code : codes) {
        n = FormatMessageA(kFlags, nullptr, code, 0, buffer, sizeof buffer, nullptr);
        EXPECT_GT(n, 0u) << std::hex << code;
        EXPECT_EQ(n, strlen(buffer));
    }
    n = FormatMessageA(kFlags, nullptr, 87, 0, buffer, sizeof buffer, nullptr);
    EXPECT_EQ(std::string(buffer, n), "The parameter is incorrect.");
}

TEST(FormatMessageTest, UnknownCodeAndSmallBuffers) {
    char buffer[64] = "unchanged";
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 0x12345678, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_NE(GetLastError(), 0u);

    // Exactly the text plus its terminator fits; one byte less does not, and
    // nothing past the stated size is touched.
    const std::string text = "An internal error occurred.";
    char exact[40];
    memset(exact, 'Z', sizeof exact);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 0x80090020, 0, exact, static_cast<DWORD>(text.size()),
                             nullptr),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(exact[text.size()], 'Z');
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 0x80090020, 0, exact,
                             static_cast<DWORD>(text.size() + 1), nullptr),
              text.size());
    EXPECT_EQ(std::string(exact), text);
    EXPECT_EQ(exact[text.size() + 1], 'Z');

    EXPECT_EQ(FormatMessageA(0, nullptr, 87, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 87, 0, nullptr, 10, nullptr), 0u);
}

}  // namespace
