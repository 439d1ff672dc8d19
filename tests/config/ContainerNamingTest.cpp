#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "KelAssertions.h"
#include "config/ContainerNaming.h"
#include "config/ServerSettings.h"

namespace {

// The container name computed with the C library's own generator.
std::string NameThroughRand(const std::string& text, uint32_t number) {
    uint32_t seed = number;
    for (unsigned char c : text) seed += c;
    srand(seed);
    std::string guid = "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx";
    for (char& c : guid) {
        int d = rand() % 16;
        if (c == 'y') d &= 0xB;
        if (c == 'x' || c == 'y') c = "0123456789abcdef"[d];
    }
    return "KEL-" + guid;
}

}  // namespace

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

TEST(MakeContainerName, DeterministicAndEqualToTheRandFormulation) {
    const std::string a = MakeContainerName("https://sign.example/api/", 77);
    EXPECT_EQ(a, MakeContainerName("https://sign.example/api/", 77));
    EXPECT_EQ(a, NameThroughRand("https://sign.example/api/", 77));
    EXPECT_NE(a, MakeContainerName("https://sign.example/api/", 78));
    // Bytes count as unsigned; the sum wraps in 32 bits.
    EXPECT_EQ(MakeContainerName("\xff\xfe", 0xFFFFFF00u), NameThroughRand("\xff\xfe", 0xFFFFFF00u));
    EXPECT_EQ(MakeContainerName("", 0), NameThroughRand("", 0));
    // The seed is the byte sum: equal sums give equal names.
    EXPECT_EQ(MakeContainerName("ab", 0), MakeContainerName("ba", 0));
    EXPECT_EQ(MakeContainerName("a", 1), MakeContainerName("b", 0));
}

TEST(MakeContainerName, LeavesTheProcessGeneratorAlone) {
    srand(99);
    const int first = rand();
    srand(99);
    MakeContainerName("text", 5);
    EXPECT_EQ(rand(), first);
}

TEST(MakeServiceId, HostAndPathWithoutPort) {
    EXPECT_EQ(MakeServiceId("https://a.b/c/d"), "a_b_c_d");
    EXPECT_EQ(MakeServiceId("https://sign.example:8443/api/v1"), "sign_example_api_v1");
    EXPECT_EQ(MakeServiceId("http://Host_1/x-y?z=1"), "Host_1_x_y_z_1");
}

TEST(MakeServiceId, CutTo40Characters) {
    const std::string host(30, 'h');
    const std::string url = "https://" + host + "/" + std::string(19, 'p');  // 50 characters
    const std::string id = MakeServiceId(url);
    EXPECT_EQ(id.size(), 40u);
    EXPECT_EQ(id, host + "_" + std::string(9, 'p'));
}

TEST(MakeServiceId, UnsplittableUrlIsRefused) {
    EXPECT_KEL_THROW(MakeServiceId("https://no-path"), 0x80090020u,
                     "Cloud exception: Wrong rest server URL format");
}
