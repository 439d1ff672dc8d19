#include <gtest/gtest.h>

#include "KelAssertions.h"
#include "TempEnv.h"
#include "config/RegistryAccess.h"
#include "config/ServerSettings.h"

namespace {

const std::string kUser = "\\local\\KeyDevices\\Cloud\\Default\\";

ServerSettings Entry(const char* name, const char* rest) {
    return ServerSettings(name, "https://auth.example/idp/", rest);
}

std::vector<std::string> Names(const std::vector<ServerSettings>& list) {
    std::vector<std::string> names;
    for (const auto& s : list) names.push_back(s.name);
    return names;
}

class ServerSettingsTest : public ::testing::Test {
  protected:
    nimbex_test::TempEnv env;
};

}  // namespace

TEST_F(ServerSettingsTest, ValidationNeedsNameAndSplittableUrls) {
    const struct {
        const char *name, *rest, *docstore;
        bool valid;
    } cases[] = {
        {"n", "https://sign.example.org/", "", true},
        {"n", "https://sign.example.org", "", false},
        {"n", "https://sign.example.org/", "docs", false},
        {"n", "https://sign.example.org/", "https://docs/", true},
        {"", "https://sign.example.org/", "", false},
    };
    for (const auto& c : cases) {
        ServerSettings s;
        s.name = c.name;
        s.authUrl = "https://auth/";
        s.restUrl = c.rest;
        s.docstoreUrl = c.docstore;
        EXPECT_EQ(IsValidServerSettings(s), c.valid)
            << c.name << " " << c.rest << " " << c.docstore;
    }
    EXPECT_KEL_THROW(ServerSettings("", "https://a/", "https://r/"), 0x80090020u,
                     "Cloud exception: Wrong server info");
    EXPECT_THROW(ServerSettings("n", "https://a/", nullptr, nullptr, nullptr, false), KelException);
}

TEST_F(ServerSettingsTest, SaveListAndKeepEarlierOptionalFields) {
    SaveServerSettings(ServerSettings("Full", "https://auth/a/", "https://sign/s/",
                                      "https://docs/d/", "A service", true),
                       false);
    SaveServerSettings(Entry("Bare", "https://bare/"), false);
    // Entries without both URLs are not listed.
    RegPutString(kUser + "NoRest\\auth_URL", "https://a/");
    RegPutString(kUser + "NoRest\\rest_URL", "");
    RegPutString(kUser + "NoAuth\\rest_URL", "https://r/");

    // Each field read back: ManagementSettingsTest, through the enumeration export.
    auto list = EnumServerSettings(false);
    ASSERT_EQ(Names(list), (std::vector<std::string>{"Bare", "Full"}));
    EXPECT_TRUE(list[1].keyCreationAllowed);
    EXPECT_TRUE(EnumServerSettings(true).empty());
    int32_t flag = -1;
    ASSERT_TRUE(RegGetLong(kUser + "Bare\\is_test_service", flag));
    EXPECT_EQ(flag, 0);

    // Saving again with empty optional fields keeps the earlier ones.
    SaveServerSettings(ServerSettings("Full", "https://a2/", "https://r2/"), false);
    list = EnumServerSettings(false);
    EXPECT_EQ(list[1].authUrl, "https://a2/");
    EXPECT_EQ(list[1].restUrl, "https://r2/");
    EXPECT_EQ(list[1].docstoreUrl, "https://docs/d/");
    EXPECT_EQ(list[1].description, "A service");
}

TEST_F(ServerSettingsTest, MachineEntriesHideUserEntriesIgnoringCase) {
    SaveServerSettings(Entry("Alpha", "https://machine-alpha/"), true);
    SaveServerSettings(Entry("Zeta", "https://machine-zeta/"), true);
    SaveServerSettings(Entry("ALPHA", "https://user-alpha/"), false);
    SaveServerSettings(Entry("Beta", "https://user-beta/"), false);
    SaveServerSettings(Entry("Alphas", "https://user-alphas/"), false);
    const auto all = EnumAllServerSettings();
    ASSERT_EQ(Names(all), (std::vector<std::string>{"Alpha", "Zeta", "Alphas", "Beta"}));
    EXPECT_EQ(all[0].restUrl, "https://machine-alpha/");
}

TEST_F(ServerSettingsTest, Lookup) {
    EXPECT_FALSE(FindServerSettings("x", 2).isValid);  // the type is looked at only on a compare
    SaveServerSettings(Entry("Primary", "https://Sign.Example/api/"), true);
    SaveServerSettings(Entry("Second", "https://second/api/"), false);
    RegPutString(kUser + "Broken\\auth_URL", "not a url");
    RegPutString(kUser + "Broken\\rest_URL", "https://r/");
    const struct {
        const char* value;
        int type;
        const char* name;
        bool valid;
    } cases[] = {
        {"primary", kServerParamName, "Primary", true},
        {"HTTPS://SIGN.EXAMPLE/API/", kServerParamRestUrl, "Primary", true},
        {"https://second/api", kServerParamRestUrl, "", false},
        {"absent", kServerParamName, "", false},
        {"Broken", kServerParamName, "Broken", false},  // found, but invalid
    };
    for (const auto& c : cases) {
        const FoundServerSettings f = FindServerSettings(c.value, c.type);
        EXPECT_EQ(f.name, c.name) << c.value;
        EXPECT_EQ(f.isValid, c.valid) << c.value;
    }
    EXPECT_EQ(GetServerNameByRestUrl("https://SECOND/api/"), "Second");
    EXPECT_EQ(GetServerNameByRestUrl("https://r/"), "");  // the invalid entry has no name
    EXPECT_KEL_THROW(FindServerSettings(nullptr, 0), 0x80090020u, "Cloud exception: Bad argumets");
    EXPECT_KEL_THROW(FindServerSettings("x", 2), 0x80090020u,
                     "Cloud exception: Invalid server parameter type");
}

TEST_F(ServerSettingsTest, DeletionTakesTheUserEntryFirst) {
    SaveServerSettings(Entry("Both", "https://machine/"), true);
    SaveServerSettings(Entry("Both", "https://user/"), false);
    EXPECT_TRUE(DeleteServerSettings("Both"));
    EXPECT_TRUE(EnumServerSettings(false).empty());
    EXPECT_EQ(EnumServerSettings(true).size(), 1u);
    EXPECT_TRUE(DeleteServerSettings("both"));
    EXPECT_TRUE(EnumServerSettings(true).empty());
    EXPECT_FALSE(DeleteServerSettings("Both"));
    // The branch itself stays after its last entry went.
    EXPECT_TRUE(RegistrySearch("\\local\\KeyDevices\\Cloud\\Default").IsOpen());
    // A name holding a backslash is stored as a nested section; it is never
    // listed, but deleting it removes what the save wrote.
    SaveServerSettings(Entry("Outer\\Inner", "https://nested/"), false);
    EXPECT_TRUE(DeleteServerSettings("Outer\\Inner"));
    EXPECT_EQ(RegGetString(kUser + "Outer\\Inner\\rest_URL"), "");
}

TEST_F(ServerSettingsTest, DefaultContainerLivesInTheUserBranch) {
    SaveServerSettings(Entry("Shared", "https://shared/"), true);
    SetDefaultContainer("Shared", "KEL-1234");
    EXPECT_EQ(GetDefaultContainer("Shared"), "KEL-1234");
    EXPECT_EQ(RegGetString(kUser + "Shared\\default_container"), "KEL-1234");
    // The per-user section holding only the default container is not an entry.
    EXPECT_TRUE(EnumServerSettings(false).empty());
    EXPECT_EQ(Names(EnumAllServerSettings()), std::vector<std::string>{"Shared"});
}
