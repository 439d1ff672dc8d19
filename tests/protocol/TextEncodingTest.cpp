#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <map>
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

// The text, the capacity offered (0: no buffer, the length only), the answer and
// what is decoded (for -2: what fits; for -1: the whole groups before the bad one,
// when not empty); nothing is written past it.
TEST(DecodeBase64Into, AnswersAndWritesNoFurtherThanItDecodes) {
    const std::string longText = Encode(std::string(300, 'z'));
    const struct {
        std::string text;
        size_t capacity;
        int rc;
        std::string output;
    } cases[] = {
        {"YWI", 16, 0, "ab"},  // no padding
        {"YWJjZA", 16, 0, "abcd"},
        {"YWJjZ", 16, 0, "abc"},       // a lone last character: nothing
        {"YW=garbage !", 16, 0, "a"},  // decoding stops at the pad
        {"YWJj====", 16, 0, "abc"},    // padding after whole groups
        {"YWJjZGVm=", 16, 0, "abcdef"},
        {"YWJjZA==", 0, 0, "abcd"},
        {longText, 0, 0, std::string(300, 'z')},
        {"YWJj", 2, -2, "ab"},
        {longText, 299, -2, std::string(299, 'z')},  // the boundary inside the fast path
        {longText, 300, 0, std::string(300, 'z')},
        {"", 16, -1, ""},
        {"YW Jj", 16, -1, ""},
        {"YW-j", 16, -1, ""},
        {"YW_j", 16, -1, ""},
        {"\x80WJj", 16, -1, ""},
        {std::string("YWJ\0", 4), 16, -1, ""},
        {"YWJj\n", 16, -1, "abc"},
        {"YWJj!", 16, -1, "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 12));
        std::vector<unsigned char> out(c.capacity + 1, 0xEE);
        size_t count = c.capacity;
        ASSERT_EQ(DecodeBase64Into(c.text, c.capacity ? out.data() : nullptr, &count), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(count, c.output.size());
        }
        if (!c.capacity || (c.rc == -1 && c.output.empty())) continue;
        EXPECT_EQ(std::string(out.begin(), out.begin() + c.output.size()), c.output);
        for (size_t i = c.output.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
    }
    unsigned char four[4];
    EXPECT_EQ(DecodeBase64Into("YWJj", four, nullptr), -1);
    // Far into a long text, counting and decoding alike.
    for (char bad : {'\x80', '\xff', ' ', '-', '@', '[', '`', '{', ':'}) {
        std::string text = longText;
        text[77] = bad;
        size_t count = 0;
        EXPECT_EQ(DecodeBase64Into(text, nullptr, &count), -1) << int(bad);
        std::vector<unsigned char> big(300);
        count = big.size();
        EXPECT_EQ(DecodeBase64Into(text, big.data(), &count), -1) << int(bad);
    }
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
    using Pairs = std::map<std::string, SecretString>;
    EXPECT_EQ(ParseKeyValueText("a=1&b&c=x=y&a=2"), (Pairs{{"a", "2"}, {"c", "x=y"}}));
    EXPECT_TRUE(ParseKeyValueText("").empty());
    EXPECT_EQ(ParseKeyValueText("&=v&k=&&t=%20"), (Pairs{{"", "v"}, {"k", ""}, {"t", "%20"}}));
}

}  // namespace
