// The configuration registry against real SQLite stores in scratch directories.
#include <gtest/gtest.h>
#include <support/support.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TempEnv.h"

namespace {

std::string GetString(const char* path, TSupErr* code) {
    size_t length = 0;
    *code = support_registry_get_string(path, &length, nullptr);
    if (*code != 0) return std::string();
    std::string text(length, '\0');
    *code = support_registry_get_string(path, &length, text.data());
    text.resize(length);
    return text;
}

std::vector<std::string> Search(const char* path, unsigned flags, TSupErr* code) {
    std::vector<std::string> names;
    TSupRegSearch* handle = nullptr;
    size_t count = 99;
    *code = support_registry_search_open(path, &handle, &count, flags);
    if (*code != 0) {
        EXPECT_EQ(handle, nullptr);
        return names;
    }
    TSupRegValue* value = nullptr;
    while (support_registry_search_next(handle, &value) == 0) {
        size_t length = 0;
        EXPECT_EQ(support_registry_value_name(value, &length, nullptr), 0u);
        std::string name(length, '\0');
        EXPECT_EQ(support_registry_value_name(value, &length, name.data()), 0u);
        names.push_back(name);
        support_registry_value_free(value);
    }
    EXPECT_EQ(count, names.size());
    support_registry_search_close(handle);
    return names;
}

class RegistryTest : public ::testing::Test {
  protected:
    nimbex_test::TempEnv env;
};

TEST_F(RegistryTest, ValuesAndLengthRules) {
    TSupErr code;
    ASSERT_EQ(support_registry_put_string("\\config\\A\\Name", "h\xC3\xA9llo"), 0u);
    size_t length = 0;
    ASSERT_EQ(support_registry_get_string("\\config\\A\\Name", &length, nullptr), 0u);
    EXPECT_EQ(length, 6u);  // bytes, no terminator
    char small[8] = "xxxxxxx";
    length = 5;
    EXPECT_EQ(support_registry_get_string("\\config\\A\\Name", &length, small), SUP_MORE_DATA);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::string(small), "xxxxxxx");  // nothing copied
    length = 6;
    EXPECT_EQ(support_registry_get_string("\\config\\A\\Name", &length, small), 0u);
    EXPECT_EQ(std::string(small, 7), "h\xC3\xA9llox");  // exactly 6 bytes, no terminator added

    int32_t value = 0;
    for (int32_t stored : {-123456, INT32_MAX}) {
        ASSERT_EQ(support_registry_put_long("\\local\\L\\N", stored), 0u);
        ASSERT_EQ(support_registry_get_long("\\local\\L\\N", &value), 0u);
        EXPECT_EQ(value, stored);
    }

    const unsigned char bytes[] = {0, 1, 0, 0xFF, 0, 0};
    ASSERT_EQ(support_registry_put_hex("\\local\\L\\H", sizeof bytes, bytes), 0u);
    unsigned char out[6] = {};
    length = 3;
    EXPECT_EQ(support_registry_get_hex("\\local\\L\\H", &length, out), SUP_MORE_DATA);
    EXPECT_EQ(length, sizeof bytes);
    ASSERT_EQ(support_registry_get_hex("\\local\\L\\H", &length, out), 0u);
    EXPECT_EQ(0, memcmp(out, bytes, sizeof bytes));
    ASSERT_EQ(support_registry_put_hex("\\local\\L\\Empty", 0, nullptr), 0u);
    length = 10;
    EXPECT_EQ(support_registry_get_hex("\\local\\L\\Empty", &length, out), 0u);
    EXPECT_EQ(length, 0u);

    // Writing another type replaces the value (reading the wrong type: RegistryAccessTest).
    ASSERT_EQ(support_registry_put_string("\\local\\L\\N", "five"), 0u);
    EXPECT_EQ(GetString("\\local\\L\\N", &code), "five");
}

TEST_F(RegistryTest, BadPathsAreRefused) {
    const char* bad[] = {"",         "config\\x",  "\\other\\x", "\\config\\a\\\\b",
                         "\\config", "\\config\\", "\\",         "\\config\\a\x01"};
    for (const char* path : bad) EXPECT_EQ(support_registry_put_string(path, "v"), 161u) << path;
}

TEST_F(RegistryTest, BranchesAreFilesInTheConfiguredDirectories) {
    ASSERT_EQ(support_registry_put_long("\\config\\S\\V", 1), 0u);
    ASSERT_EQ(support_registry_put_long("\\local\\S\\V", 2), 0u);
    struct stat st;
    EXPECT_EQ(stat((env.machineDir() + "/registry.db").c_str(), &st), 0);
    EXPECT_EQ(stat((env.userDir() + "/registry.db").c_str(), &st), 0);
    // Reading a store that does not exist creates nothing; writing creates
    // the missing directories.
    const std::string dir = env.root() + "/deep/er/machine";
    setenv("NIMBEX_MACHINE_DIR", dir.c_str(), 1);
    size_t length = 0;
    unsigned mode = 1;
    int32_t value = 0;
    TSupErr code;
    EXPECT_EQ(support_registry_get_hex("\\config\\A\\b", &length, nullptr), SUP_NOT_FOUND);
    EXPECT_EQ(support_registry_check_access("\\config\\A", &mode), SUP_NOT_FOUND);
    EXPECT_EQ(support_registry_check_access("\\config", &mode), 0u);
    EXPECT_EQ(Search("\\config", 0, &code), std::vector<std::string>{});
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(support_registry_delete_param("\\config\\A\\b", 0), SUP_NOT_FOUND);
    EXPECT_EQ(support_registry_delete_section("\\config", "A"), SUP_NOT_FOUND);
    EXPECT_NE(stat(dir.c_str(), &st), 0);
    ASSERT_EQ(support_registry_put_long("\\config\\A\\b", 3), 0u);
    EXPECT_EQ(stat((dir + "/registry.db").c_str(), &st), 0);

    // A store that cannot be created is access denied.
    setenv("NIMBEX_USER_DIR", (dir + "/registry.db/sub").c_str(), 1);
    EXPECT_EQ(support_registry_put_long("\\local\\A\\b", 1), 5u);
    EXPECT_EQ(support_registry_get_long("\\local\\A\\b", &value), 5u);
}

TEST_F(RegistryTest, NamesIgnoreAsciiCaseAndKeepTheirFirstSpelling) {
    ASSERT_EQ(support_registry_put_string("\\config\\KeyDevices\\Cloud\\Default\\Svc\\auth_URL",
                                          "https://a"),
              0u);
    TSupErr code;
    EXPECT_EQ(GetString("\\CONFIG\\keydevices\\CLOUD\\default\\svc\\AUTH_url", &code), "https://a");
    ASSERT_EQ(support_registry_put_string("\\config\\KEYDEVICES\\cloud\\default\\SVC\\Auth_Url",
                                          "https://b"),
              0u);
    EXPECT_EQ(GetString("\\config\\KeyDevices\\Cloud\\Default\\Svc\\auth_URL", &code), "https://b");
    EXPECT_EQ(Search("\\config\\KeyDevices\\Cloud\\Default", 1, &code),
              std::vector<std::string>{"Svc"});
    EXPECT_EQ(Search("\\config\\KeyDevices\\Cloud\\Default\\Svc", 0, &code),
              std::vector<std::string>{"auth_URL"});
}

TEST_F(RegistryTest, SectionsSearchAndCheckAccess) {
    unsigned mode = 1;
    EXPECT_EQ(support_registry_check_access("\\config\\P", &mode), SUP_NOT_FOUND);
    ASSERT_EQ(support_registry_put_section("\\config\\P\\Q\\R"), 0u);
    EXPECT_EQ(support_registry_check_access("\\config\\P", &mode), 0u);
    EXPECT_EQ(support_registry_check_access("\\config\\P\\Q\\R\\", &mode), 0u);
    ASSERT_EQ(support_registry_put_string("\\config\\P\\zeta", "1"), 0u);
    ASSERT_EQ(support_registry_put_string("\\config\\P\\Alpha", "1"), 0u);
    ASSERT_EQ(support_registry_put_section("\\config\\P\\beta"), 0u);
    ASSERT_EQ(support_registry_put_string("\\config\\P\\Gamma\\deep", "1"), 0u);
    EXPECT_EQ(support_registry_check_access("\\config\\P\\zeta", &mode), 0u);

    TSupErr code;
    EXPECT_EQ(Search("\\config\\P", 1, &code), (std::vector<std::string>{"beta", "Gamma", "Q"}));
    EXPECT_EQ(Search("\\config\\P\\beta", 1, &code), std::vector<std::string>{});
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Search("\\config\\Nope", 1, &code), std::vector<std::string>{});
    EXPECT_EQ(code, SUP_NOT_FOUND);

    // A short name buffer gets 234; the walk ends with SUP_NOT_FOUND.
    TSupRegSearch* handle = nullptr;
    size_t count = 0;
    ASSERT_EQ(support_registry_search_open("\\config\\P", &handle, &count, 1), 0u);
    TSupRegValue* value = nullptr;
    ASSERT_EQ(support_registry_search_next(handle, &value), 0u);
    char name[2];
    size_t length = sizeof name;
    EXPECT_EQ(support_registry_value_name(value, &length, name), SUP_MORE_DATA);
    EXPECT_EQ(length, 4u);
    support_registry_value_free(value);
    for (size_t i = 1; i < count; ++i) {
        ASSERT_EQ(support_registry_search_next(handle, &value), 0u);
        support_registry_value_free(value);
    }
    EXPECT_EQ(support_registry_search_next(handle, &value), SUP_NOT_FOUND);
    EXPECT_EQ(value, nullptr);
    support_registry_search_close(handle);
}

TEST_F(RegistryTest, DeletionRemovesTheWholeSubtreeOnly) {
    ASSERT_EQ(support_registry_put_string("\\local\\D\\Keep\\v", "1"), 0u);
    ASSERT_EQ(support_registry_put_string("\\local\\D\\Gone\\v", "1"), 0u);
    ASSERT_EQ(support_registry_put_string("\\local\\D\\Gone\\Sub\\w", "1"), 0u);
    ASSERT_EQ(support_registry_put_string("\\local\\D\\Gone2\\v", "1"), 0u);  // shares a prefix
    ASSERT_EQ(support_registry_put_string("\\local\\D\\Gone_x", "1"), 0u);

    EXPECT_EQ(support_registry_delete_section("\\local\\D\\", "gone"), 0u);
    unsigned mode = 1;
    EXPECT_EQ(support_registry_check_access("\\local\\D\\Gone", &mode), SUP_NOT_FOUND);
    EXPECT_EQ(support_registry_check_access("\\local\\D\\Gone\\Sub\\w", &mode), SUP_NOT_FOUND);
    EXPECT_EQ(support_registry_check_access("\\local\\D\\Gone2\\v", &mode), 0u);
    EXPECT_EQ(support_registry_check_access("\\local\\D\\Gone_x", &mode), 0u);
    EXPECT_EQ(support_registry_check_access("\\local\\D\\Keep\\v", &mode), 0u);
    EXPECT_EQ(support_registry_delete_section("\\local\\D", "Gone"), SUP_NOT_FOUND);
    EXPECT_EQ(support_registry_delete_param("\\local\\d\\GONE_X", 0), 0u);
    EXPECT_EQ(support_registry_delete_param("\\local\\D\\Gone_x", 0), SUP_NOT_FOUND);
}

TEST_F(RegistryTest, ThreadsShareTheConnection) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                std::string path =
                    "\\local\\Threads\\T" + std::to_string(t) + "\\v" + std::to_string(i);
                ASSERT_EQ(support_registry_put_long(path.c_str(), t * 1000 + i), 0u);
                int32_t value = -1;
                ASSERT_EQ(support_registry_get_long(path.c_str(), &value), 0u);
                ASSERT_EQ(value, t * 1000 + i);
            }
        });
    for (auto& thread : threads) thread.join();
    TSupErr code;
    EXPECT_EQ(Search("\\local\\Threads", 1, &code),
              (std::vector<std::string>{"T0", "T1", "T2", "T3"}));
    EXPECT_EQ(Search("\\local\\Threads\\T2", 0, &code).size(), 100u);
}

}  // namespace
