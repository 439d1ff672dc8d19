#include <gtest/gtest.h>

#include <cstring>

#include "reader/SizeBufferRecord.h"

TEST(SizeBufferRecord, LengthExcludesTheZeroCapacityIncludesIt) {
    char buffer[8];
    std::memset(buffer, 'z', sizeof(buffer));
    CloudSizeBufferRecord r{0, buffer};
    EXPECT_EQ(ReturnText(&r, "abcd"), 0u);
    EXPECT_EQ(r.size, 4u);
    EXPECT_EQ(buffer[0], 'z');

    r = {4, buffer};
    EXPECT_EQ(ReturnText(&r, "abcd"), 234u);
    EXPECT_EQ(r.size, 4u);
    EXPECT_EQ(buffer[0], 'z');

    r = {5, buffer};
    EXPECT_EQ(ReturnText(&r, "abcd"), 0u);
    EXPECT_EQ(r.size, 4u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(buffer[5], 'z');

    r = {99, nullptr};
    EXPECT_EQ(ReturnText(&r, "abcd"), 0u);
    EXPECT_EQ(r.size, 4u);

    EXPECT_EQ(ReturnText(nullptr, "abcd"), 87u);
}

TEST(SizeBufferRecord, EmptyTextAndEmbeddedBytes) {
    char buffer[4] = {'z', 'z', 'z', 'z'};
    CloudSizeBufferRecord r{1, buffer};
    EXPECT_EQ(ReturnText(&r, std::string()), 0u);
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(buffer[0], '\0');

    // A counted text is copied as counted.
    r = {4, buffer};
    EXPECT_EQ(ReturnText(&r, std::string("a\0b", 3)), 0u);
    EXPECT_EQ(r.size, 3u);
    EXPECT_EQ(std::memcmp(buffer, "a\0b\0", 4), 0);
}
