#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "KelAssertions.h"
#include "TempEnv.h"
#include "config/RegistryAccess.h"

namespace {

using nimbex_test::CaughtKelException;

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class RegistryAccessTest : public ::testing::Test {
  protected:
    nimbex_test::TempEnv env;
};

}  // namespace

TEST_F(RegistryAccessTest, ValuesRoundTrip) {
    RegPutString("\\config\\T\\s", "text value");
    EXPECT_EQ(RegGetString("\\config\\T\\s"), "text value");
    RegPutLong("\\local\\T\\l", -5);
    int32_t value = 0;
    ASSERT_TRUE(RegGetLong("\\local\\T\\l", value));
    EXPECT_EQ(value, -5);
    const std::vector<unsigned char> bytes = {0x00, 0xFF, 0x10, 0x00};
    RegPutHex("\\local\\T\\h", bytes);
    std::vector<unsigned char> read = {9, 9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_TRUE(RegGetHex("\\local\\T\\h", read));
    EXPECT_EQ(read, bytes);
    RegPutHex("\\local\\T\\empty", nullptr, 0);
    ASSERT_TRUE(RegGetHex("\\local\\T\\empty", read));
    EXPECT_TRUE(read.empty());
}

TEST_F(RegistryAccessTest, AbsentValuesLeaveOutputsUntouched) {
    EXPECT_EQ(RegGetString("\\config\\Nothing\\here"), "");
    int32_t value = 1234;
    EXPECT_FALSE(RegGetLong("\\config\\Nothing\\here", value));
    EXPECT_EQ(value, 1234);
    std::vector<unsigned char> bytes = {1, 2, 3};
    EXPECT_FALSE(RegGetHex("\\config\\Nothing\\here", bytes));
    EXPECT_EQ(bytes, (std::vector<unsigned char>{1, 2, 3}));
}

TEST_F(RegistryAccessTest, PathOf4096AcceptedAnd4097RefusedBeforeTheRegistry) {
    const std::string prefix = "\\config\\";
    const std::string exact = prefix + std::string(MaxRegistryPath - prefix.size(), 'a');
    ASSERT_EQ(exact.size(), 4096u);
    const std::string tooLong = exact + "a";

    // Nothing may be touched: not even the store file gets created.
    const std::string store = env.machineDir() + "/registry.db";
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
        [&] { RegistrySearch search(tooLong); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_KEL_THROW(operations[i](), 87u, "Cloud exception: Too long config parameter");
    }
    EXPECT_FALSE(FileExists(store));

    RegPutLong(exact, 42);
    ASSERT_TRUE(RegGetLong(exact, value));
    EXPECT_EQ(value, 42);
}

TEST_F(RegistryAccessTest, FailuresCarryTheRegistryCodeInDecimal) {
    // A value of another type is a failure of the registry, not an absence.
    RegPutString("\\config\\T\\v", "text");
    int32_t value = 0;
    EXPECT_KEL_THROW(RegGetLong("\\config\\T\\v", value), 1629u,
                     "Cloud exception: support_registry_get_long error: 1629");
    std::vector<unsigned char> bytes = {7};
    EXPECT_STREQ(CaughtKelException([&] { RegGetHex("\\config\\T\\v", bytes); }).what(),
                 "Cloud exception: support_registry_get_hex error: 1629");
    EXPECT_EQ(bytes, std::vector<unsigned char>{7});
    RegPutLong("\\config\\T\\n", 1);
    EXPECT_STREQ(CaughtKelException([&] { RegGetString("\\config\\T\\n"); }).what(),
                 "Cloud exception: support_registry_get_string error: 1629");

    // A path outside both branches is refused by the registry (161).
    EXPECT_KEL_THROW(RegPutString("\\elsewhere\\v", "x"), 161u,
                     "Cloud exception: support_registry_put_string error: 161");
    EXPECT_STREQ(CaughtKelException([&] { RegPutHex("\\elsewhere\\v", bytes); }).what(),
                 "Cloud exception: support_registry_put_hex error: 161");
    EXPECT_EQ(CaughtKelException([&] { RegDeleteParam("\\elsewhere\\v"); }).code(), 161u);
}

TEST_F(RegistryAccessTest, UnusableStoreDirectoryFailsWithItsCode) {
    // The machine directory is a plain file: the store cannot be opened (5).
    const std::string blocker = env.root() + "/not-a-directory";
    std::ofstream(blocker) << "x";
    setenv("NIMBEX_MACHINE_DIR", (blocker + "/sub").c_str(), 1);
    EXPECT_KEL_THROW(RegPutLong("\\config\\KeyDevices\\Cloud\\Timeout", 1), 5u,
                     "Cloud exception: support_registry_put_long error: 5");
}

TEST_F(RegistryAccessTest, DeletingParamsAcceptsAbsentValues) {
    RegDeleteParam("\\local\\T\\never");
    RegPutString("\\local\\T\\v", "x");
    RegDeleteParam("\\local\\T\\v");
    EXPECT_EQ(RegGetString("\\local\\T\\v"), "");
    RegDeleteParam("\\local\\T\\v");
}

TEST_F(RegistryAccessTest, DeletingSectionsKeepsTheParent) {
    EXPECT_FALSE(RegDeleteSection("\\local\\P", "Child"));
    RegPutString("\\local\\P\\Child\\Deep\\v", "x");
    RegPutString("\\local\\P\\Child\\w", "y");
    EXPECT_TRUE(RegDeleteSection("\\local\\P", "Child"));
    EXPECT_EQ(RegGetString("\\local\\P\\Child\\Deep\\v"), "");
    EXPECT_EQ(RegGetString("\\local\\P\\Child\\w"), "");
    EXPECT_FALSE(RegDeleteSection("\\local\\P", "Child"));

    RegistrySearch parent("\\local\\P");
    EXPECT_TRUE(parent.IsOpen());
    EXPECT_EQ(parent.Next(), "");
}

TEST_F(RegistryAccessTest, DeletingSectionsRefusesAnEmptyName) {
    RegPutString("\\local\\P\\Child\\v", "x");
    EXPECT_KEL_THROW(RegDeleteSection("\\local\\P", ""), 87u,
                     "Cloud exception: Invalid config section name");
    EXPECT_EQ(RegGetString("\\local\\P\\Child\\v"), "x");

    // The length limits come first: with an empty name the full path is one too long.
    const std::string parent = "\\local\\" + std::string(MaxRegistryPath - 7, 'p');
    ASSERT_EQ(parent.size(), MaxRegistryPath);
    EXPECT_KEL_THROW(RegDeleteSection(parent, ""), 87u,
                     "Cloud exception: Too long config parameter");
}

TEST_F(RegistryAccessTest, DeletingANestedSectionLeavesTheRest) {
    RegPutString("\\local\\P\\Child\\Deep\\v", "x");
    RegPutString("\\local\\P\\Child\\w", "y");
    EXPECT_TRUE(RegDeleteSection("\\local\\P", "Child\\Deep"));
    EXPECT_EQ(RegGetString("\\local\\P\\Child\\Deep\\v"), "");
    EXPECT_EQ(RegGetString("\\local\\P\\Child\\w"), "y");
    EXPECT_FALSE(RegDeleteSection("\\local\\P", "Child\\Deep"));
}

TEST_F(RegistryAccessTest, SearchListsSubsectionsOnly) {
    RegistrySearch missing("\\config\\No\\Such\\Section");
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.Next(), "");

    RegPutString("\\config\\S\\beta\\v", "1");
    RegPutString("\\config\\S\\Alpha\\v", "1");
    RegPutString("\\config\\S\\plain", "not a section");
    RegistrySearch search("\\config\\S");
    ASSERT_TRUE(search.IsOpen());
    std::vector<std::string> names;
    for (std::string n = search.Next(); !n.empty(); n = search.Next()) names.push_back(n);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta"}));
    EXPECT_EQ(search.Next(), "");
}
