#include <gtest/gtest.h>

#include "KelAssertions.h"
#include "TempEnv.h"
#include "config/RegistryAccess.h"
#include "config/SavedCredentials.h"

namespace {

const std::string kSection = "\\local\\KeyDevices\\CloudPasswords\\";

std::vector<unsigned char> Stored(const std::string& key) {
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(RegGetHex(kSection + key, bytes)) << key;
    return bytes;
}

class SavedCredentialsTest : public ::testing::Test {
  protected:
    nimbex_test::TempEnv env;
};

}  // namespace

// Stored with the terminator: an empty password is one zero byte.
TEST_F(SavedCredentialsTest, StoredWithTheirTerminator) {
    SaveUserName("svc", "abc");
    EXPECT_EQ(LoadPassword("svc"), "");
    SavePassword("svc", "");
    EXPECT_EQ(Stored("svc_username"), (std::vector<unsigned char>{0x61, 0x62, 0x63, 0x00}));
    EXPECT_EQ(Stored("svc_password"), std::vector<unsigned char>{0x00});
    EXPECT_EQ(LoadUserName("svc"), "abc");
    EXPECT_EQ(LoadPassword("svc"), "");
}

TEST_F(SavedCredentialsTest, LoadingStopsAtTheFirstNulOrTheEnd) {
    RegPutHex(kSection + "k1", std::vector<unsigned char>{'p', 'w', 0, 'x', 0});
    EXPECT_EQ(LoadSecret("k1"), "pw");
    RegPutHex(kSection + "k2", std::vector<unsigned char>{'n', 'o', 'n', 'u', 'l'});
    EXPECT_EQ(LoadSecret("k2"), "nonul");
    EXPECT_EQ(LoadSecret("never-saved"), "");
}

// That both forms go, even when one was never saved: ManagementSettings.
TEST_F(SavedCredentialsTest, DeleteLeavesOtherServicesAlone) {
    SaveUserName("svc", "user");
    SaveUserName("other", "keep");
    DeleteCredentials("svc");
    EXPECT_EQ(LoadUserName("other"), "keep");
}

TEST_F(SavedCredentialsTest, RegistryFailuresPropagate) {
    RegPutString(kSection + "wrongtype", "text");
    EXPECT_KEL_THROW(LoadSecret("wrongtype"), 1629u,
                     "Cloud exception: support_registry_get_hex error: 1629");
}
