#include <gtest/gtest.h>
#include <sys/stat.h>

#include "KelAssertions.h"
#include "TempEnv.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"

namespace {

using nimbex_test::CaughtKelException;

const std::string kSection = "\\config\\KeyDevices\\Cloud\\";

class ModuleOptionsTest : public ::testing::Test {
  protected:
    void Store(const char* name, int32_t value) { RegPutLong(kSection + name, value); }
    nimbex_test::TempEnv env;
};

}  // namespace

TEST_F(ModuleOptionsTest, DefaultsWhenNothingIsStored) {
    const ModuleOptions o = ReadModuleOptions();
    EXPECT_EQ(o.timeout, 30000u);
    EXPECT_EQ(o.maxDocSize, 10485760u);
    EXPECT_FALSE(o.shouldSaveAuthToken);
    EXPECT_FALSE(o.permitHttp);
    EXPECT_FALSE(o.realDelete);
    EXPECT_EQ(o.httpErrorLevel, 0u);
    EXPECT_TRUE(o.enableKeyCreation);
    EXPECT_FALSE(o.keepAliveValue);
    EXPECT_FALSE(o.keepAlivePresent);
    EXPECT_FALSE(o.serverOptionsOnlineValue);
    EXPECT_FALSE(o.serverOptionsOnlinePresent);
}

TEST_F(ModuleOptionsTest, StoredValuesReachTheSnapshot) {
    Store("Timeout", 1500);
    Store("MaxDocSize", 3);
    Store("ShouldSaveAuthToken", 7);
    Store("PermitHttp", 1);
    Store("RealDelete", -1);
    Store("HttpErrorLevel", -2);
    Store("EnableKeyCreation", 0);
    Store("HttpKeepAlive", 0);
    Store("GetServerOptionsOnline", 2);
    const ModuleOptions o = ReadModuleOptions();
    EXPECT_EQ(o.timeout, 1500u);
    EXPECT_EQ(o.maxDocSize, 3u << 20);
    EXPECT_TRUE(o.shouldSaveAuthToken);
    EXPECT_TRUE(o.permitHttp);
    EXPECT_TRUE(o.realDelete);
    EXPECT_EQ(o.httpErrorLevel, 0xFFFFFFFEu);
    EXPECT_FALSE(o.enableKeyCreation);
    // Stored 0 is "present and false", unlike an absent value.
    EXPECT_FALSE(o.keepAliveValue);
    EXPECT_TRUE(o.keepAlivePresent);
    EXPECT_TRUE(o.serverOptionsOnlineValue);
    EXPECT_TRUE(o.serverOptionsOnlinePresent);
}

TEST_F(ModuleOptionsTest, CapsApplyOnReadingOnly) {
    const struct {
        const char* name;
        int32_t stored;
        uint32_t read;
    } cases[] = {
        {"Timeout", 0, 0},        {"Timeout", 65535, 65535},  {"Timeout", 65536, 65535},
        {"Timeout", -1, 65535},   {"MaxDocSize", 2047, 2047}, {"MaxDocSize", 2048, 2047},
        {"MaxDocSize", -3, 2047},
    };
    for (const auto& c : cases) {
        Store(c.name, c.stored);
        const uint32_t read =
            std::string(c.name) == "Timeout" ? GetTimeoutOption() : GetMaxDocSizeOption();
        EXPECT_EQ(read, c.read) << c.name << " " << c.stored;
        int32_t stored = 0;
        ASSERT_TRUE(RegGetLong(kSection + c.name, stored));
        EXPECT_EQ(stored, c.stored);
    }
    EXPECT_EQ(ReadModuleOptions().maxDocSize, 2047u * 1048576u);
}

TEST_F(ModuleOptionsTest, IndexOutsideTheOptionsTouchesNothing) {
    int32_t value = 77;
    EXPECT_FALSE(GetModuleOption(9, value));
    EXPECT_FALSE(GetModuleOption(-1, value));
    SetModuleOption(9, 5);
    SetModuleOption(-1, 5);
    EXPECT_EQ(value, 77);
    struct stat st;
    EXPECT_NE(stat((env.machineDir() + "/registry.db").c_str(), &st), 0);
}

TEST_F(ModuleOptionsTest, SetModuleOptionWritesTheNamedValueUnbounded) {
    SetModuleOption(kOptionTimeout, 123456);
    int32_t stored = 0;
    ASSERT_TRUE(RegGetLong(kSection + "Timeout", stored));
    EXPECT_EQ(stored, 123456);
    SetModuleOption(kOptionGetServerOptionsOnline, 0);
    ASSERT_TRUE(RegGetLong(kSection + "GetServerOptionsOnline", stored));
    EXPECT_EQ(stored, 0);
    int32_t raw = 1;
    ASSERT_TRUE(GetModuleOption(kOptionGetServerOptionsOnline, raw));
    EXPECT_EQ(raw, 0);
}

TEST_F(ModuleOptionsTest, RegistryFailuresPropagate) {
    RegPutString(kSection + "Timeout", "thirty seconds");
    EXPECT_STREQ(CaughtKelException([&] { ReadModuleOptions(); }).what(),
                 "Cloud exception: support_registry_get_long error: 1629");
}

TEST_F(ModuleOptionsTest, AuthAppPath) {
    const char* message =
        "Cloud exception: Cannot find the configuration parameter with path to OAuth2Client. "
        "Check the correctness of CSP installation.";
    for (int round = 0; round < 2; ++round) {
        EXPECT_KEL_THROW(GetAuthAppPath(), 0x80090020u, message);
        RegPutString(kSection + "AuthApp", "");  // stored but empty: the same failure
    }
    RegPutString(kSection + "AuthApp", "/opt/nimbex/bin/nimbex-auth");
    EXPECT_EQ(GetAuthAppPath(), "/opt/nimbex/bin/nimbex-auth");
}
