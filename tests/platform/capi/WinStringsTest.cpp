// UTF-8 <-> wide text conversions with the Windows conventions.
#include <capi/wintypes.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(WinStringsTest, Utf8ToWideWithTerminatorAndSizeQuery) {
    const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";           // a é € 😀
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 5);  // 4 + terminator
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, 3, nullptr, 0), 2);    // no terminator
    wchar_t out[5] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, out, 5), 5);
    EXPECT_EQ(out[0], L'a');
    EXPECT_EQ(out[1], 0xE9);
    EXPECT_EQ(out[2], 0x20AC);
    EXPECT_EQ(static_cast<uint32_t>(out[3]), 0x1F600u);
    EXPECT_EQ(out[4], 0);

    SetLastError(0);
    wchar_t small[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, small, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(WinStringsTest, InvalidUtf8IsRefused) {
    const char* bad[] = {"\x80",         "\xC3",         "\xC0\xAF",
                         "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                         "\xF0\x9F\x98", "ok\xFF"};
    for (const char* text : bad) {
        SetLastError(0);
        wchar_t out[8];
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 8), 0) << text;
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    }
    // A count that cuts a sequence in half is invalid too.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9", 1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(WinStringsTest, WideToUtf8) {
    const wchar_t text[] = {L'a', 0xE9, 0x20AC, static_cast<wchar_t>(0x1F600), 0};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 11);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 4, nullptr, 0, nullptr, nullptr), 10);
    char out[11];
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, 11, nullptr, nullptr), 11);
    EXPECT_STREQ(out, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 10, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    const wchar_t surrogate[] = {L'x', 0xD800, 0};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, surrogate, -1, out, 11, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    const wchar_t tooBig[] = {static_cast<wchar_t>(0x110000), 0};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, tooBig, -1, out, 11, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(WinStringsTest, EveryScalarRoundTrips) {
    for (uint32_t c = 1; c <= 0x10FFFF; c += (c < 0x800 ? 1 : 97)) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        wchar_t wide[1] = {static_cast<wchar_t>(c)};
        char narrow[4];
        int n = WideCharToMultiByte(CP_UTF8, 0, wide, 1, narrow, 4, nullptr, nullptr);
        ASSERT_GT(n, 0) << c;
        wchar_t back[1] = {0};
        ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, narrow, n, back, 1), 1) << c;
        ASSERT_EQ(static_cast<uint32_t>(back[0]), c);
    }
}

TEST(WinStringsTest, LastErrorIsPerThread) {
    SetLastError(42);
    DWORD seen = 0;
    std::thread other([&] {
        seen = GetLastError();
        SetLastError(7);
    });
    other.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 42u);
}

}  // namespace
