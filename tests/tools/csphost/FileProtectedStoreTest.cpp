#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "FileProtectedStore.h"
#include "TempEnv.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

TEST(FileProtectedStore, OwnerOnlyFilesThatOutliveTheStore) {
    nimbex_test::TempDir dir;
    const std::string root = dir.path() + "/host";
    const std::string name = "https://127.0.0.1:8443/auth_auth_token_magic";
    const unsigned char token[] = "token-1";  // with its NUL, as the reader stores it
    {
        csphost::FileProtectedStore store(root);
        ASSERT_TRUE(store.Set(false, name, token, sizeof token));
        EXPECT_EQ(ModeOf(store.PathOf(false, name)), 0600u);
        EXPECT_EQ(ModeOf(root), 0700u);
        EXPECT_EQ(ModeOf(root + "/user"), 0700u);
    }
    csphost::FileProtectedStore again(root);
    std::vector<unsigned char> value;
    ASSERT_TRUE(again.Get(false, name, value));
    EXPECT_EQ(value, std::vector<unsigned char>(token, token + sizeof token));
    EXPECT_FALSE(again.Get(true, name, value)) << "the machine's scope is apart";

    const unsigned char replacement[] = "t2";
    ASSERT_TRUE(again.Set(false, name, replacement, sizeof replacement));
    ASSERT_TRUE(again.Get(false, name, value));
    EXPECT_EQ(value.size(), sizeof replacement);
    EXPECT_TRUE(again.Remove(false, name));
    EXPECT_FALSE(again.Get(false, name, value));
    EXPECT_FALSE(again.Remove(false, name));
}

}  // namespace
