#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "KelAssertions.h"
#include "TempEnv.h"
#include "config/RegistryAccess.h"

namespace {

using nimbex_test::kKelPrefix;

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class RegistryAccessTest : public ::testing::Test {
  protected:
    nimbex_test::TempEnv env;
};

}  // namespace

TEST_F(RegistryAccessTest, PathOf4096AcceptedAnd4097RefusedBeforeTheRegistry) {
    const std::string prefix = "\\config\\";
    const std::string exact = prefix + std::string(MaxRegistryPath - prefix.size(), 'a');
    const std::string tooLong = exact + "a";
    std::vector<unsigned char> bytes;
    int32_t value = 0;
    const std::vector<std::function<void()>> operations = {
        [&] { RegGetString(tooLong); },
        [&] { RegPutString(tooLong, "x"); },
        [&] { RegGetLong(tooLong, value); },
        [&] { RegPutLong(tooLong, 1); },
        [&] { RegGetHex(tooLong, bytes); },
        [&] { RegPutHex(tooLong, bytes); },
        [&] { RegDeleteParam(tooLong); },
        [&] { RegDeleteSection(tooLong, "x"); },
        [&] { RegDeleteSection("\\config", std::string(4097, 'n')); },
        [&] { RegDeleteSection("\\config\\" + std::string(2040, 'p'), std::string(2048, 'n')); },
        // With an empty name the full path is one too long: the limits come first.
        [&] { RegDeleteSection(exact, ""); },
        [&] { RegistrySearch search(tooLong); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_KEL_THROW(operations[i](), 87u, "Cloud exception: Too long config parameter");
    }
    // Nothing was touched: not even the store file got created.
    EXPECT_FALSE(FileExists(env.machineDir() + "/registry.db"));
    RegPutLong(exact, 42);
    ASSERT_TRUE(RegGetLong(exact, value));
    EXPECT_EQ(value, 42);
}

TEST_F(RegistryAccessTest, FailuresCarryTheRegistryCodeInDecimal) {
    RegPutString("\\config\\T\\v", "text");
    RegPutLong("\\config\\T\\n", 1);
    std::vector<unsigned char> bytes = {7};
    int32_t value = 0;
    const struct {
        std::function<void()> call;
        uint32_t code;
        const char* text;
    } cases[] = {
        // A value of another type is a failure of the registry, not an absence.
        {[&] { RegGetLong("\\config\\T\\v", value); }, 1629,
         "support_registry_get_long error: 1629"},
        {[&] { RegGetHex("\\config\\T\\v", bytes); }, 1629, "support_registry_get_hex error: 1629"},
        {[&] { RegGetString("\\config\\T\\n"); }, 1629, "support_registry_get_string error: 1629"},
        // A path outside both branches is refused by the registry (161).
        {[&] { RegPutString("\\elsewhere\\v", "x"); }, 161,
         "support_registry_put_string error: 161"},
        {[&] { RegPutHex("\\elsewhere\\v", bytes); }, 161, "support_registry_put_hex error: 161"},
        {[&] { RegDeleteParam("\\elsewhere\\v"); }, 161,
         "support_registry_delete_param error: 161"},
        {[&] { RegDeleteSection("\\local\\P", ""); }, 87, "Invalid config section name"},
    };
    for (const auto& c : cases)
        EXPECT_KEL_THROW(c.call(), c.code, std::string(kKelPrefix) + c.text);
    EXPECT_EQ(bytes, std::vector<unsigned char>{7});
}

TEST_F(RegistryAccessTest, SearchListsSubsectionsOnly) {
    RegPutString("\\config\\S\\beta\\v", "1");
    RegPutString("\\config\\S\\Alpha\\v", "1");
    RegPutString("\\config\\S\\plain", "not a section");
    RegistrySearch search("\\config\\S");
    std::vector<std::string> names;
    for (std::string n = search.Next(); !n.empty(); n = search.Next()) names.push_back(n);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta"}));
    EXPECT_EQ(search.Next(), "");
}
