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

// The snapshot as "timeout maxDocSize save http delete errorLevel keyCreation
// keepAlive(value/present) serverOptionsOnline(value/present)".
std::string Describe(const ModuleOptions& o) {
    return std::to_string(o.timeout) + " " + std::to_string(o.maxDocSize) + " " +
           std::to_string(o.shouldSaveAuthToken) + " " + std::to_string(o.permitHttp) + " " +
           std::to_string(o.realDelete) + " " + std::to_string(o.httpErrorLevel) + " " +
           std::to_string(o.enableKeyCreation) + " " + std::to_string(o.keepAliveValue) + "/" +
           std::to_string(o.keepAlivePresent) + " " + std::to_string(o.serverOptionsOnlineValue) +
           "/" + std::to_string(o.serverOptionsOnlinePresent);
}

}  // namespace

TEST_F(ModuleOptionsTest, DefaultsAndStoredValues) {
    EXPECT_EQ(Describe(ReadModuleOptions()), "30000 10485760 0 0 0 0 1 0/0 0/0");
    const std::pair<const char*, int32_t> stored[] = {
        {"Timeout", 1500},        {"MaxDocSize", 3},    {"ShouldSaveAuthToken", 7},
        {"PermitHttp", 1},        {"RealDelete", -1},   {"HttpErrorLevel", -2},
        {"EnableKeyCreation", 0}, {"HttpKeepAlive", 0}, {"GetServerOptionsOnline", 2},
    };
    for (const auto& option : stored) Store(option.first, option.second);
    // A stored 0 is "present and false", unlike an absent value.
    EXPECT_EQ(Describe(ReadModuleOptions()), "1500 3145728 1 1 1 4294967294 0 0/1 1/1");
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
