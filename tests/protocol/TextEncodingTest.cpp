#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "KelAssertions.h"
#include "protocol/TextEncoding.h"

namespace {

std::string Encode(const std::string& s) {
    return EncodeBase64(s.data(), s.size());
}

std::vector<unsigned char> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

std::string OpenSslEncode(const std::vector<unsigned char>& in) {
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), in.data(),
                            static_cast<int>(in.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

void ExpectKelFailure(const std::string& text, const char* message) {
    SCOPED_TRACE(text);
    EXPECT_KEL_THROW(DecodeBase64(text), 0x80090020u,
                     std::string(nimbex_test::kKelPrefix) + message);
}

// Padding and the whole alphabet: RoundTripsRandomDataAgainstOpenSsl.
TEST(EncodeBase64, NothingToEncode) {
    EXPECT_EQ(EncodeBase64(nullptr, 5), "");
    EXPECT_EQ(EncodeBase64("x", 0), "");
}

TEST(DecodeBase64Into, StopsAtPadAcceptsMissingPadAndCounts) {
    const std::pair<const char*, std::string> cases[] = {
        {"YWI", "ab"}, {"YW=garbage !", "a"}, {"YWJjZ", "abc"}};  // a lone last character: nothing
    for (const auto& c : cases) {
        unsigned char out[8];
        size_t count = sizeof(out);
        ASSERT_EQ(DecodeBase64Into(c.first, out, &count), 0) << c.first;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), count), c.second);
    }
    size_t count = 0;  // capacity is irrelevant without a buffer
    ASSERT_EQ(DecodeBase64Into("YWJjZA==", nullptr, &count), 0);
    EXPECT_EQ(count, 4u);
}

TEST(DecodeBase64Into, RejectsBadInput) {
    unsigned char out[8];
    size_t count = sizeof(out);
    EXPECT_EQ(DecodeBase64Into("", out, &count), -1);
    EXPECT_EQ(DecodeBase64Into("YWJj", out, nullptr), -1);
    const std::string bad[] = {"YW Jj", "YWJj\n",  "YW-j",
                               "YW_j",  "\x80WJj", std::string("YWJ\0", 4)};
    for (const std::string& text : bad) {
        count = sizeof(out);
        EXPECT_EQ(DecodeBase64Into(text, out, &count), -1) << text;
    }
    // Far into a long text, counting and decoding alike.
    std::string longText = Encode(std::string(120, 'q'));
    for (char bad : {'\x80', '\xff', ' ', '-', '@', '[', '`', '{', ':'}) {
        std::string text = longText;
        text[77] = bad;
        count = 0;
        EXPECT_EQ(DecodeBase64Into(text, nullptr, &count), -1) << int(bad);
        std::vector<unsigned char> big(200);
        count = big.size();
        EXPECT_EQ(DecodeBase64Into(text, big.data(), &count), -1) << int(bad);
    }
    count = 0;
    EXPECT_EQ(DecodeBase64Into(longText, nullptr, &count), 0);
    EXPECT_EQ(count, 120u);
}

TEST(DecodeBase64Into, OutputTooSmallWritesOnlyWhatFits) {
    unsigned char out[4] = {0, 0, 0xEE, 0xEE};
    size_t count = 2;
    EXPECT_EQ(DecodeBase64Into("YWJj", out, &count), -2);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], 'b');
    EXPECT_EQ(out[2], 0xEE);

    // Long input, boundary inside the fast path.
    std::string text = Encode(std::string(300, 'z'));
    std::vector<unsigned char> buffer(301, 0xEE);
    count = 299;
    EXPECT_EQ(DecodeBase64Into(text, buffer.data(), &count), -2);
    EXPECT_EQ(buffer[298], 'z');
    EXPECT_EQ(buffer[299], 0xEE);
    count = 300;
    EXPECT_EQ(DecodeBase64Into(text, buffer.data(), &count), 0);
    EXPECT_EQ(count, 300u);
    EXPECT_EQ(buffer[300], 0xEE);
}

TEST(DecodeBase64Into, LeavesTheBufferPastTheOutputAlone) {
    // Short texts, with and without padding after whole groups.
    for (const char* text : {"YWJj", "YWJj====", "YWJjZGVm", "YWJjZGVm=", "YWJjZA"}) {
        unsigned char out[16];
        std::memset(out, 0xEE, sizeof(out));
        size_t count = sizeof(out);
        ASSERT_EQ(DecodeBase64Into(text, out, &count), 0) << text;
        for (size_t i = count; i < sizeof(out); ++i) EXPECT_EQ(out[i], 0xEE) << text << " " << i;
    }
    // Bad input after whole groups: nothing beyond the bytes decoded so far.
    std::vector<unsigned char> bad(16, 0xEE);
    size_t count = bad.size();
    ASSERT_EQ(DecodeBase64Into("YWJj!", bad.data(), &count), -1);
    EXPECT_EQ(bad[3], 0xEE);
}

TEST(DecodeBase64, ThrowsWithExactMessages) {
    ExpectKelFailure("", "Cannot decode empty Base64 value");
    ExpectKelFailure("YW\nJj", "Cannot decode Base64 value");
    EXPECT_EQ(DecodeBase64("YWJjZA=="), Bytes("abcd"));
    EXPECT_TRUE(DecodeBase64("Y").empty());
}

TEST(DecodeBase64, RoundTripsRandomDataAgainstOpenSsl) {
    std::mt19937 rng(12345);
    for (size_t size : {1u, 2u, 3u, 4u, 5u, 63u, 64u, 65u, 1000u, 4097u}) {
        std::vector<unsigned char> data(size);
        for (auto& b : data) b = static_cast<unsigned char>(rng());
        std::string ours = EncodeBase64(data.data(), data.size());
        ASSERT_EQ(ours, OpenSslEncode(data)) << size;
        EXPECT_EQ(DecodeBase64(ours), data) << size;
    }
}

TEST(PercentEncode, KeepsUnreservedAndEscapesTheRest) {
    EXPECT_EQ(PercentEncode("a b~"), "a%20b~");
    EXPECT_EQ(PercentEncode("\xD0\x96"), "%D0%96");
    EXPECT_EQ(PercentEncode("A-z.0_9\n/?&=%+"), "A-z.0_9%0A%2F%3F%26%3D%25%2B");
    EXPECT_EQ(PercentEncode(std::string("\0\xff", 2)), "%00%FF");
    EXPECT_EQ(PercentEncode(""), "");
}

// Lengths that would wrap past SIZE_MAX (on a 32-bit target an input past
// 3 GiB) are refused before anything is allocated; the largest that fit pass.
TEST(EncodedLength, RefusesWhatDoesNotFitAString) {
    const size_t max = std::string().max_size();
    const std::string base64 = std::string(nimbex_test::kKelPrefix) + "Data too large for Base64";
    const std::string percent =
        std::string(nimbex_test::kKelPrefix) + "Text too large for percent-encoding";
    EXPECT_EQ(Base64Length(max / 4 * 3), max / 4 * 4);
    for (size_t size : {max / 4 * 3 + 1, SIZE_MAX - 1, SIZE_MAX}) {
        SCOPED_TRACE(size);
        EXPECT_KEL_THROW(Base64Length(size), 0x8009000Eu, base64);
    }
    EXPECT_EQ(PercentEncodedLength(max, 0), max);
    EXPECT_EQ(PercentEncodedLength(max / 3, max / 3), max / 3 * 3);
    const std::pair<size_t, size_t> tooLong[] = {
        {max / 3 + 1, max / 3 + 1}, {SIZE_MAX / 2, SIZE_MAX / 2}, {SIZE_MAX, 1}};
    for (const auto& [size, escaped] : tooLong) {
        SCOPED_TRACE(size);
        EXPECT_KEL_THROW(PercentEncodedLength(size, escaped), 0x8009000Eu, percent);
    }
}

TEST(ParseKeyValueText, SplitsPairs) {
    auto m = ParseKeyValueText("a=1&b&c=x=y&a=2");
    EXPECT_EQ(m.size(), 2u);
    EXPECT_EQ(m["a"], "2");
    EXPECT_EQ(m["c"], "x=y");
    EXPECT_TRUE(ParseKeyValueText("").empty());
    auto e = ParseKeyValueText("&=v&k=&&t=%20");
    EXPECT_EQ(e.size(), 3u);
    EXPECT_EQ(e[""], "v");
    EXPECT_EQ(e["k"], "");
    EXPECT_EQ(e["t"], "%20");
}

}  // namespace
