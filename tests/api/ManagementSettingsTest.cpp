// The service-settings and time-out exports through the built module: the
// argument and error protocol, the enumeration and its length limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ManagementApi.h"
#include "TempEnv.h"
#include "config/SavedCredentials.h"
#include "config/ServerSettings.h"

namespace {

class ManagementSettings : public ::testing::Test {
  protected:
    CloudServerSettings Record(const char* name, const char* auth, const char* sign,
                               const char* user = nullptr, const char* password = nullptr) {
        CloudServerSettings r{};
        r.name = name;
        r.authUrl = auth;
        r.signUrl = sign;
        r.userName = user;
        r.password = password;
        return r;
    }
    // Every entry the enumeration hands out at level 2, as "name|auth|sign|user|desc|test|doc".
    std::vector<std::string> Listed(uint32_t* openResult = nullptr) {
        CloudServerSettingsEnum* e = nullptr;
        const uint32_t r = m.CloudServerSettingsEnumOpen(&e);
        if (openResult) *openResult = r;
        std::vector<std::string> out;
        if (r != 0) return out;
        CloudServerSettings s{};
        while (m.ExtendedCloudServerSettingsEnumNext(e, 2, &s) == 0) {
            EXPECT_EQ(s.password, nullptr);
            out.push_back(std::string(s.name) + "|" + s.authUrl + "|" + s.signUrl + "|" +
                          s.userName + "|" + s.description + "|" + std::to_string(s.isTestService) +
                          "|" + s.docstoreUrl);
        }
        EXPECT_EQ(259u, m.CloudServerSettingsEnumNext(e, &s));
        EXPECT_EQ(259u, m.CloudServerSettingsEnumNext(e, &s));
        m.CloudServerSettingsEnumClose(e);
        return out;
    }

    nimbex_test::TempEnv env;
    nimbex_cli::ManagementApi m{NIMBEX_MODULE_PATH};  // as the command-line tool loads it
    const char* auth = "https://a.example/auth/";
    const char* sign = "https://a.example/sign/";
};

TEST_F(ManagementSettings, SavingAndDeletingFollowTheArgumentRules) {
    EXPECT_EQ(87u, m.SaveCloudServerSettings(nullptr, 0));
    std::pair<CloudServerSettings, uint32_t> refused[] = {
        {Record("x", auth, nullptr), 87u},
        {Record("x", nullptr, nullptr), 87u},
        {Record("unknown", nullptr, nullptr, "u", "p"), 2u},  // credentials of no stored entry
        {Record("x", "no url", sign), 0x80090020u}};
    for (auto& [record, code] : refused) EXPECT_EQ(code, m.SaveCloudServerSettings(&record, 0));
    uint32_t open = 0;
    EXPECT_TRUE(Listed(&open).empty());
    EXPECT_EQ(2u, open);

    SaveUserName("gone", SecretString("old"));
    EXPECT_EQ(2u, m.DeleteCloudServerSettings("gone"));
    EXPECT_EQ("", LoadUserName("gone"));
    EXPECT_EQ(87u, m.DeleteCloudServerSettings(nullptr));
}

TEST_F(ManagementSettings, EnumerationHandsOutEachLevelAndTheUserNameNeverThePassword) {
    CloudServerSettings full = Record("svc", auth, sign, "alice", "secret");
    full.description = "described";
    full.isTestService = 7;
    full.docstoreUrl = "https://a.example/docs/";
    ASSERT_EQ(0u, m.SaveExtendedCloudServerSettings(&full, 2, 1));
    CloudServerSettings level0 = Record("plain", auth, sign);
    level0.description = "ignored at level 0";
    ASSERT_EQ(0u, m.SaveCloudServerSettings(&level0, 0));
    EXPECT_EQ("secret", LoadPassword("svc"));

    EXPECT_EQ((std::vector<std::string>{
                  "svc|" + std::string(auth) + "|" + sign + "|alice|described|1|" +
                      "https://a.example/docs/",
                  "plain|" + std::string(auth) + "|" + sign + "|||0|",
              }),
              Listed());

    // Level 0 leaves the fields of the higher levels as they were.
    CloudServerSettingsEnum* e = nullptr;
    ASSERT_EQ(0u, m.CloudServerSettingsEnumOpen(&e));
    CloudServerSettings s{};
    s.description = "mine";
    s.isTestService = 42;
    s.docstoreUrl = "mine too";
    s.password = "not null";
    ASSERT_EQ(0u, m.CloudServerSettingsEnumNext(e, &s));
    EXPECT_STREQ("mine", s.description);
    EXPECT_EQ(42, s.isTestService);
    EXPECT_STREQ("mine too", s.docstoreUrl);
    EXPECT_EQ(nullptr, s.password);
    EXPECT_EQ(87u, m.CloudServerSettingsEnumNext(nullptr, &s));
    EXPECT_EQ(87u, m.CloudServerSettingsEnumNext(e, nullptr));
    m.CloudServerSettingsEnumClose(e);
    m.CloudServerSettingsEnumClose(nullptr);

    // Credentials alone update a stored entry; deleting removes entry and credentials.
    CloudServerSettings creds = Record("svc", nullptr, nullptr, "bob", "pw2");
    EXPECT_EQ(0u, m.SaveCloudServerSettings(&creds, 0));
    EXPECT_EQ("bob", LoadUserName("svc"));
    EXPECT_EQ(0u, m.DeleteCloudServerSettings("svc"));
    EXPECT_EQ("", LoadPassword("svc"));
    EXPECT_EQ(1u, Listed().size());
}

// No name or URL an enumeration hands out is longer than 256 bytes: one
// entry past it refuses the whole open.
TEST_F(ManagementSettings, EnumerationRefusesAnyNameOrUrlPast256Bytes) {
    const std::string longPath = std::string(auth) + std::string(256, 'p') + "/";
    struct Case {
        std::string name, auth, sign, docs;
        uint32_t expected;
    } cases[] = {
        {std::string(256, 'n'), auth, sign, "", 0},
        {std::string(257, 'n'), auth, sign, "", 87},
        {"a", std::string(auth) + std::string(256 - strlen(auth), 'p'), sign, "", 0},
        {"a", longPath, sign, "", 87},
        {"a", auth, longPath, "", 87},
        {"a", auth, sign, longPath, 87},
    };
    for (const Case& c : cases) {
        ServerSettings s;
        s.name = c.name;
        s.authUrl = c.auth;
        s.restUrl = c.sign;
        s.docstoreUrl = c.docs;
        SaveServerSettings(s, false);
        CloudServerSettingsEnum* e = nullptr;
        EXPECT_EQ(c.expected, m.CloudServerSettingsEnumOpen(&e)) << c.name.size();
        EXPECT_EQ(c.expected != 0, e == nullptr);
        m.CloudServerSettingsEnumClose(e);
        DeleteServerSettings(c.name);
    }
    EXPECT_EQ(87u, m.CloudServerSettingsEnumOpen(nullptr));
}

TEST_F(ManagementSettings, TimeoutIsStoredAndReadBackWithinSixteenBits) {
    uint16_t t = 0;
    EXPECT_EQ(0u, m.KelGetConnectionTimeout(&t));
    EXPECT_EQ(30000, t);
    for (int32_t set : {1000, 70000}) {
        EXPECT_EQ(0u, m.KelSetConnectionTimeout(set));
        EXPECT_EQ(0u, m.KelGetConnectionTimeout(&t));
        EXPECT_EQ(set > 65535 ? 65535 : set, t);
    }
    EXPECT_EQ(87u, m.KelGetConnectionTimeout(nullptr));
}

}  // namespace
