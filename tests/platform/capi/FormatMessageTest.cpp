// System texts of the Windows-style error codes (exact texts through the
// module: ErrorModelTest).
#include <capi/wintypes.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(FormatMessageTest, SizeRuleAndUnknownCodes) {
    // Exactly the text plus its terminator fits; one byte less does not, and
    // nothing past the stated size is touched.
    const std::string text = "An internal error occurred.";
    char exact[40];
    memset(exact, 'Z', sizeof exact);
    const DWORD size = static_cast<DWORD>(text.size());
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 0x80090020, 0, exact, size, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(exact[text.size()], 'Z');
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 0x80090020, 0, exact, size + 1, nullptr), size);
    EXPECT_EQ(std::string(exact), text);
    EXPECT_EQ(exact[text.size() + 1], 'Z');

    // An unknown code has no text: CryptoAPIException.MessageFromTheSystemTable.
    char buffer[64] = "unchanged";
    EXPECT_EQ(FormatMessageA(0, nullptr, 87, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 87, 0, nullptr, 10, nullptr), 0u);
}

}  // namespace
