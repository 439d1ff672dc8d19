#include <gtest/gtest.h>

#include <vector>

#include "base/Wipe.h"

// Strings and WipeOnExit are wiped under the freed-memory scans of the
// operations and reader suites; byte vectors only here.
TEST(Wipe, VectorAndBytes) {
    std::vector<unsigned char> bytes(32, 0xAB);
    const unsigned char* storage = bytes.data();
    WipeVector(bytes);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(std::vector<unsigned char>(storage, storage + 32), std::vector<unsigned char>(32, 0));
    unsigned char raw[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    WipeBytes(raw, 4);
    EXPECT_EQ(std::vector<unsigned char>(raw, raw + 8),
              (std::vector<unsigned char>{0, 0, 0, 0, 5, 6, 7, 8}));
    WipeBytes(nullptr, 10);
}
