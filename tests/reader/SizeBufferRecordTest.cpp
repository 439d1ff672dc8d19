// The size/buffer rule itself is exercised through the texts of the constant
// handlers (ConstantHandlersTest); here what they cannot show.
#include <gtest/gtest.h>

#include <cstring>

#include "reader/SizeBufferRecord.h"

TEST(SizeBufferRecord, EmptyTextAndEmbeddedBytes) {
    char buffer[5] = {'z', 'z', 'z', 'z', 'z'};
    CloudSizeBufferRecord r{1, buffer};
    EXPECT_EQ(ReturnText(&r, std::string()), 0u);
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(buffer[0], '\0');
    // A counted text is copied as counted, and nothing past its zero.
    r = {4, buffer};
    EXPECT_EQ(ReturnText(&r, std::string("a\0b", 3)), 0u);
    EXPECT_EQ(r.size, 3u);
    EXPECT_EQ(std::memcmp(buffer, "a\0b\0z", 5), 0);
    EXPECT_EQ(ReturnText(nullptr, "abcd"), 87u);
}
