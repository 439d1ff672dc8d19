// Time arithmetic, logging, localised strings and installation paths.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <support/support.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TempEnv.h"

namespace {

constexpr unsigned kFailureMask = 0x1041041;
constexpr unsigned kCancelMask = 0x2082082;

// The arithmetic itself: the expiry tests of the protocol and operations suites.
TEST(SupportTimeTest, Overflow) {
    TSupTime a, r;
    const int64_t maxSeconds = INT64_MAX / 1000000;
    EXPECT_EQ(support_time_set(&a, maxSeconds), SUP_OK);
    r.usec = 7;
    EXPECT_EQ(support_time_set(&r, maxSeconds + 1), SUP_INVALID_PARAMETER);
    EXPECT_EQ(r.usec, 7);  // untouched on failure
    EXPECT_EQ(support_time_set(&r, INT64_MIN / 1000000 - 1), SUP_INVALID_PARAMETER);
    TSupTime big{INT64_MAX - 5}, six{6}, negative{INT64_MIN + 1};
    EXPECT_EQ(support_time_add(&r, &big, &six), SUP_INVALID_PARAMETER);
    EXPECT_EQ(support_time_sub(&r, &negative, &six), SUP_INVALID_PARAMETER);
    EXPECT_EQ(support_time_sub(&r, &big, &negative), SUP_INVALID_PARAMETER);
}

class SupportPrintTest : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("NIMBEX_LOG"); }
    void TearDown() override { unsetenv("NIMBEX_LOG"); }
    // Prints one line at each of levels 1 and 2 and returns what reached stderr.
    static std::string PrintBoth(TSupportPrint* handle) {
        ::testing::internal::CaptureStderr();
        support_print(handle, 1, "", 42, "process_kel_exception", "%s", "failure text");
        support_print(handle, 2, "", 43, "process_kel_exception", "%s %d", "cancel", 7);
        return ::testing::internal::GetCapturedStderr();
    }
    nimbex_test::TempEnv env;
};

TEST_F(SupportPrintTest, LevelsFromEnvironmentAndModule) {
    const struct {
        const char* log;  // NIMBEX_LOG, null for unset
        unsigned moduleLevels;
        bool failures, cancels;
    } cases[] = {
        {nullptr, 0x7F, false, false},  // silent unless configured
        {"stderr", 0x7F, true, true},  {"stderr:0x1", 0x7F, true, false},  // the environment's mask
        {"stderr", 0x2, false, true},  // the module's own levels limit too
        {"off", 0x7F, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log ? c.log : "(unset)");
        if (c.log)
            setenv("NIMBEX_LOG", c.log, 1);
        else
            unsetenv("NIMBEX_LOG");
        TSupportPrint* handle = support_print_init2("cloud", c.moduleLevels);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(support_print_is(handle, kFailureMask), c.failures);
        EXPECT_EQ(support_print_is(handle, kCancelMask), c.cancels);
        const std::string out = PrintBoth(handle);
        EXPECT_EQ(out.find("failure text") != std::string::npos, c.failures);
        EXPECT_EQ(out.find("cancel 7") != std::string::npos, c.cancels);
        support_print_done(handle);
    }
    EXPECT_FALSE(support_print_is(nullptr, kFailureMask));
    support_print(nullptr, 1, "", 1, "f", "x");  // a null handle is ignored
}

TEST_F(SupportPrintTest, RegistryChoosesAFileAndTheEnvironmentOverrides) {
    std::string logFile = env.root() + "/module.log";
    ASSERT_EQ(support_registry_put_string("\\config\\Support\\Log\\Destination", logFile.c_str()),
              0u);
    ASSERT_EQ(support_registry_put_long("\\config\\Support\\Log\\Levels", 2), 0u);
    TSupportPrint* handle = support_print_init2("cloud", 0x7F);
    EXPECT_EQ(PrintBoth(handle), "");  // not to stderr
    support_print_done(handle);
    const std::string content = nimbex_test::FileText(logFile);
    EXPECT_EQ(content.find("failure text"), std::string::npos);
    EXPECT_NE(content.find("level 2 process_kel_exception:43: cancel 7"), std::string::npos);
}

// --- Localised strings ---

std::string g_catalogPath;
std::atomic<int> g_openerCalls{0};

void OpenTestCatalog(TSupResource* self) {
    ++g_openerCalls;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // widen the race
    self->catalog = catopen(g_catalogPath.c_str(), 0);
}

TEST(SupportResourceTest, OpenerRunsOnceAndAMissingCatalogIsNotFound) {
    nimbex_test::TempDir dir;
    std::string source = dir.path() + "/test.msg";
    g_catalogPath = dir.path() + "/test.cat";
    {
        std::ofstream msg(source);
        msg << "$set 1\n104 Cloud Token\n106 Remote keys\n";
    }
    ASSERT_EQ(system(("gencat " + g_catalogPath + " " + source).c_str()), 0);

    TSupResource resource = {reinterpret_cast<nl_catd>(-1), OpenTestCatalog, 0};
    g_openerCalls = 0;
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            char buffer[32];
            size_t size = sizeof buffer;
            if (support_resource_string(&resource, 104, buffer, &size) == 0 && size == 11 &&
                std::string(buffer) == "Cloud Token")
                ++good;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(g_openerCalls.load(), 1);
    EXPECT_EQ(good.load(), 4);

    // The size rule itself: MessageCatalogTest, through the module.
    char buffer[16];
    size_t size = sizeof buffer;
    EXPECT_EQ(support_resource_string(&resource, 999, buffer, &size), SUP_NOT_FOUND);
    EXPECT_EQ(g_openerCalls.load(), 1);
    catclose(resource.catalog);

    // A catalog that cannot be opened is not found, and not opened again.
    g_catalogPath = "/nonexistent/dir/none.cat";
    TSupResource missing = {reinterpret_cast<nl_catd>(-1), OpenTestCatalog, 0};
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(support_resource_string(&missing, 104, buffer, &size), SUP_NOT_FOUND);
    EXPECT_EQ(g_openerCalls.load(), 2);
}

TEST(SupportPathsTest, LibraryDirectoryFromEnvironmentOrTheLoadedLibrary) {
    nimbex_test::TempEnv env;
    unsetenv("NIMBEX_LIB_DIR");
    const TCspPaths* paths = csp_get_paths();
    ASSERT_NE(paths, nullptr);
    EXPECT_EQ(paths->size, 11u);
    EXPECT_EQ(std::string(paths->lib_dir), std::string(NIMBEX_BINARY_DIR) + "/platform/support");
    EXPECT_EQ(std::string(paths->machine_dir), env.machineDir());
    EXPECT_EQ(std::string(paths->user_dir), env.userDir());
    EXPECT_EQ(std::string(paths->runtime_dir), env.runtimeDir());
    const char* oldLib = paths->lib_dir;

    setenv("NIMBEX_LIB_DIR", "/opt/somewhere/lib", 1);
    const TCspPaths* changed = csp_get_paths();
    EXPECT_STREQ(changed->lib_dir, "/opt/somewhere/lib");
    EXPECT_EQ(reinterpret_cast<const uintptr_t*>(changed)[10],
              reinterpret_cast<uintptr_t>(changed->lib_dir));  // word 11
    EXPECT_STREQ(changed->prefix, "/opt/somewhere");
    EXPECT_EQ(std::string(oldLib), std::string(NIMBEX_BINARY_DIR) + "/platform/support");
    unsetenv("NIMBEX_LIB_DIR");
}

}  // namespace
