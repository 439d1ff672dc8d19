#include <gtest/gtest.h>

#include "KelAssertions.h"
#include "TempEnv.h"
#include "config/RegistryAccess.h"
#include "config/ServerSettings.h"

namespace {

const std::string kMachine = "\\config\\KeyDevices\\Cloud\\Default\\";
const std::string kUser = "\\local\\KeyDevices\\Cloud\\Default\\";

ServerSettings Entry(const char* name, const char* rest, const char* description = nullptr,
                     bool test = false) {
    return ServerSettings(name, "https://auth.example/idp/", rest, nullptr, description, test);
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
    ServerSettings s;
    s.name = "n";
    s.authUrl = "https://auth/";
    s.restUrl = "https://sign.example.org";
    EXPECT_FALSE(IsValidServerSettings(s));
    s.restUrl += "/";
    EXPECT_TRUE(IsValidServerSettings(s));
    s.docstoreUrl = "docs";
    EXPECT_FALSE(IsValidServerSettings(s));
    s.docstoreUrl = "https://docs/";
    EXPECT_TRUE(IsValidServerSettings(s));
    s.name.clear();
    EXPECT_FALSE(IsValidServerSettings(s));
}

TEST_F(ServerSettingsTest, ConstructorsValidate) {
    EXPECT_KEL_THROW(ServerSettings("", "https://a/", "https://r/"), 0x80090020u,
                     "Cloud exception: Wrong server info");
    EXPECT_THROW(ServerSettings("n", "https://a/", nullptr, nullptr, nullptr, false), KelException);
    const ServerSettings s("n", "https://a/", "https://r/", nullptr, nullptr, true);
    EXPECT_EQ(s.docstoreUrl, "");
    EXPECT_EQ(s.description, "");
    EXPECT_TRUE(s.isTestService);
    EXPECT_TRUE(s.keyCreationAllowed);
}

TEST_F(ServerSettingsTest, SaveAndListOneBranch) {
    ServerSettings full("Full", "https://auth/a/", "https://sign/s/", "https://docs/d/",
                        "A service", true);
    SaveServerSettings(full, false);
    SaveServerSettings(Entry("Bare", "https://bare/"), false);

    const auto list = EnumServerSettings(false);
    ASSERT_EQ(Names(list), (std::vector<std::string>{"Bare", "Full"}));
    const ServerSettings& f = list[1];
    EXPECT_EQ(f.authUrl, "https://auth/a/");
    EXPECT_EQ(f.restUrl, "https://sign/s/");
    EXPECT_EQ(f.docstoreUrl, "https://docs/d/");
    EXPECT_EQ(f.description, "A service");
    EXPECT_TRUE(f.isTestService);
    EXPECT_TRUE(f.keyCreationAllowed);
    EXPECT_FALSE(list[0].isTestService);
    EXPECT_EQ(list[0].docstoreUrl, "");
    EXPECT_TRUE(EnumServerSettings(true).empty());

    int32_t flag = -1;
    ASSERT_TRUE(RegGetLong(kUser + "Bare\\is_test_service", flag));
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(RegGetString(kUser + "Bare\\description"), "");
}

TEST_F(ServerSettingsTest, EmptyOptionalFieldsKeepEarlierValues) {
    SaveServerSettings(
        ServerSettings("S", "https://a/", "https://r/", "https://d/", "old text", false), true);
    SaveServerSettings(ServerSettings("S", "https://a2/", "https://r2/"), true);
    const auto list = EnumServerSettings(true);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].authUrl, "https://a2/");
    EXPECT_EQ(list[0].restUrl, "https://r2/");
    EXPECT_EQ(list[0].docstoreUrl, "https://d/");
    EXPECT_EQ(list[0].description, "old text");
}

TEST_F(ServerSettingsTest, EntriesWithoutUrlsAreNotListed) {
    RegPutString(kUser + "NoRest\\auth_URL", "https://a/");
    RegPutString(kUser + "NoRest\\rest_URL", "");
    RegPutString(kUser + "NoAuth\\rest_URL", "https://r/");
    RegPutLong(kUser + "Flagged\\is_test_service", 5);
    RegPutString(kUser + "Flagged\\auth_URL", "https://a/");
    RegPutString(kUser + "Flagged\\rest_URL", "https://r/");
    const auto list = EnumServerSettings(false);
    ASSERT_EQ(Names(list), std::vector<std::string>{"Flagged"});
    EXPECT_TRUE(list[0].isTestService);
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

TEST_F(ServerSettingsTest, LookupByNameOrRestUrlIgnoresCase) {
    SaveServerSettings(Entry("Primary", "https://Sign.Example/api/"), true);
    SaveServerSettings(Entry("Second", "https://second/api/"), false);

    FoundServerSettings f = FindServerSettings("primary", kServerParamName);
    EXPECT_TRUE(f.isValid);
    EXPECT_EQ(f.name, "Primary");
    f = FindServerSettings(std::string("HTTPS://SIGN.EXAMPLE/API/"), kServerParamRestUrl);
    EXPECT_TRUE(f.isValid);
    EXPECT_EQ(f.name, "Primary");
    EXPECT_EQ(GetServerNameByRestUrl("https://SECOND/api/"), "Second");
    EXPECT_EQ(GetServerNameByRestUrl("https://second/api"), "");

    f = FindServerSettings("absent", kServerParamName);
    EXPECT_FALSE(f.isValid);
    EXPECT_EQ(f.name, "");
    EXPECT_EQ(f.restUrl, "");
}

TEST_F(ServerSettingsTest, LookupOfAnInvalidStoredEntryIsMarkedInvalid) {
    RegPutString(kUser + "Broken\\auth_URL", "not a url");
    RegPutString(kUser + "Broken\\rest_URL", "https://r/");
    const FoundServerSettings f = FindServerSettings("Broken", 0);
    EXPECT_EQ(f.name, "Broken");
    EXPECT_FALSE(f.isValid);
    EXPECT_EQ(GetServerNameByRestUrl("https://r/"), "");
}

TEST_F(ServerSettingsTest, LookupArgumentErrors) {
    EXPECT_KEL_THROW(FindServerSettings(nullptr, 0), 0x80090020u, "Cloud exception: Bad argumets");
    // The type is looked at only when there is an entry to compare.
    EXPECT_FALSE(FindServerSettings("x", 2).isValid);
    SaveServerSettings(Entry("One", "https://one/"), false);
    EXPECT_KEL_THROW(FindServerSettings("x", 2), 0x80090020u,
                     "Cloud exception: Invalid server parameter type");
}

TEST_F(ServerSettingsTest, DeletionTakesTheUserEntryFirst) {
    SaveServerSettings(Entry("Both", "https://machine/"), true);
    SaveServerSettings(Entry("Both", "https://user/"), false);
    SaveServerSettings(Entry("Other", "https://other/"), false);
    EXPECT_TRUE(DeleteServerSettings("Both"));
    EXPECT_EQ(EnumServerSettings(false).size(), 1u);
    EXPECT_EQ(EnumServerSettings(true).size(), 1u);
    EXPECT_TRUE(DeleteServerSettings("both"));
    EXPECT_TRUE(EnumServerSettings(true).empty());
    EXPECT_FALSE(DeleteServerSettings("Both"));
    EXPECT_TRUE(DeleteServerSettings("Other"));
    // The branch itself stays after its last entry went.
    RegistrySearch branch("\\local\\KeyDevices\\Cloud\\Default");
    EXPECT_TRUE(branch.IsOpen());
}

TEST_F(ServerSettingsTest, WhatWasSavedUnderAnyNameCanBeDeleted) {
    // A name holding a backslash is stored as a nested section; it is never
    // listed, but deleting it removes what the save wrote.
    SaveServerSettings(Entry("Outer\\Inner", "https://nested/"), false);
    EXPECT_EQ(RegGetString(kUser + "Outer\\Inner\\rest_URL"), "https://nested/");
    EXPECT_TRUE(DeleteServerSettings("Outer\\Inner"));
    EXPECT_EQ(RegGetString(kUser + "Outer\\Inner\\rest_URL"), "");
    EXPECT_FALSE(DeleteServerSettings("Outer\\Inner"));
}

TEST_F(ServerSettingsTest, DefaultContainerLivesInTheUserBranch) {
    SaveServerSettings(Entry("Shared", "https://shared/"), true);
    EXPECT_EQ(GetDefaultContainer("Shared"), "");
    SetDefaultContainer("Shared", "KEL-1234");
    EXPECT_EQ(GetDefaultContainer("Shared"), "KEL-1234");
    EXPECT_EQ(RegGetString(kUser + "Shared\\default_container"), "KEL-1234");
    // The per-user section holding only the default container is not an entry.
    EXPECT_TRUE(EnumServerSettings(false).empty());
    EXPECT_EQ(Names(EnumAllServerSettings()), std::vector<std::string>{"Shared"});
}
