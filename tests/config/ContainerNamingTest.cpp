#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "KelAssertions.h"
#include "config/ContainerNaming.h"
#include "config/ServerSettings.h"

TEST(SeededRandom, ReproducesTheCLibrarySequence) {
    for (uint32_t seed : {0u, 1u, 2u, 12345u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SeededRandom random(seed);
        srand(seed);
        for (int i = 0; i < 500; ++i) ASSERT_EQ(random.Next(), rand()) << seed << " #" << i;
    }
}

TEST(MakeContainerName, ShapeOfTheName) {
    for (uint32_t n = 0; n < 200; ++n) {
        const std::string name = MakeContainerName("https://sign.example/api/", n);
        ASSERT_EQ(name.size(), 40u);
        EXPECT_EQ(name.substr(0, 4), "KEL-");
        EXPECT_EQ(name[18], '4');
        EXPECT_NE(std::string("012389ab").find(name[23]), std::string::npos) << name;
        for (size_t dash : {12u, 17u, 22u, 27u}) EXPECT_EQ(name[dash], '-') << name;
        for (size_t i = 4; i < name.size(); ++i) {
            if (name[i] == '-') continue;
            EXPECT_TRUE(isxdigit(name[i]) && !isupper(name[i])) << name;
        }
    }
}

TEST(MakeContainerName, SeededByTheByteSumAndLeavesRandAlone) {
    const std::string a = MakeContainerName("https://sign.example/api/", 77);
    EXPECT_EQ(a, MakeContainerName("https://sign.example/api/", 77));
    EXPECT_NE(a, MakeContainerName("https://sign.example/api/", 78));
    // The seed is the byte sum plus the number: equal sums give equal names;
    // bytes count as unsigned and the sum wraps in 32 bits.
    EXPECT_EQ(MakeContainerName("ab", 0), MakeContainerName("ba", 0));
    EXPECT_EQ(MakeContainerName("a", 1), MakeContainerName("b", 0));
    EXPECT_EQ(MakeContainerName("\xff\xfe", 0xFFFFFF00u), MakeContainerName("", 0xFDu));

    srand(99);
    const int first = rand();
    srand(99);
    MakeContainerName("text", 5);
    EXPECT_EQ(rand(), first);
}

TEST(MakeServiceId, HostAndPathWithoutPortCutTo40) {
    EXPECT_EQ(MakeServiceId("https://a.b/c/d"), "a_b_c_d");
    EXPECT_EQ(MakeServiceId("https://sign.example:8443/api/v1"), "sign_example_api_v1");
    EXPECT_EQ(MakeServiceId("http://Host_1/x-y?z=1"), "Host_1_x_y_z_1");
    const std::string host(30, 'h');
    EXPECT_EQ(MakeServiceId("https://" + host + "/" + std::string(19, 'p')),
              host + "_" + std::string(9, 'p'));
    EXPECT_KEL_THROW(MakeServiceId("https://no-path"), 0x80090020u,
                     "Cloud exception: Wrong rest server URL format");
}
