#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "TempEnv.h"
#include "TestStrings.h"
#include "base/ErrorBoundary.h"
#include "base/KelException.h"

namespace {

using nimbex_test::Contains;

// Runs one boundary call in a child whose logging goes to a fresh file
// (NIMBEX_LOG=<file>:<levels>); the print facility reads its configuration
// on first use, which happens in the child. Returns the lines logged.
std::vector<std::string> LoggedLines(const std::string& levels,
                                     const std::function<uint32_t()>& body, uint32_t expected) {
    nimbex_test::TempDir dir;
    const std::string file = dir.path() + "/log.txt";
    setenv("NIMBEX_LOG", (file + ":" + levels).c_str(), 1);
    EXPECT_EXIT(
        {
            const uint32_t code = Boundary(body);
            _exit(code == expected ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    unsetenv("NIMBEX_LOG");
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(BoundaryLog, FailureLoggedAtLevelOne) {
    const auto lines = LoggedLines(
        "0x3", []() -> uint32_t { throw KelException("Cannot open the store", 0x80092004); },
        0x80092004);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(Contains(lines[0], " level 1 ")) << lines[0];
    EXPECT_TRUE(Contains(lines[0], "cloud[")) << lines[0];
    EXPECT_TRUE(Contains(lines[0], "process_kel_exception")) << lines[0];
    EXPECT_TRUE(Contains(lines[0], ": Cloud exception: Cannot open the store")) << lines[0];
}

TEST(BoundaryLog, CancellationLoggedAtLevelTwoOnly) {
    auto cancel = []() -> uint32_t { throw KelException("cancelled by the user", 0x8010006E); };
    auto lines = LoggedLines("0x3", cancel, 0x8010006E);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(Contains(lines[0], " level 2 ")) << lines[0];
    EXPECT_TRUE(Contains(lines[0], "Cloud exception: cancelled by the user")) << lines[0];

    // With only level 1 (failures) enabled a cancellation leaves no trace.
    lines = LoggedLines("0x1", cancel, 0x8010006E);
    EXPECT_TRUE(lines.empty());
    // And with only level 2 enabled an ordinary failure leaves none.
    lines = LoggedLines(
        "0x2", []() -> uint32_t { throw KelException("x", 2); }, 2);
    EXPECT_TRUE(lines.empty());
}

TEST(BoundaryLog, OtherExceptionsAreNotLogged) {
    auto lines = LoggedLines(
        "0x3F", []() -> uint32_t { throw std::bad_alloc(); }, 0x80090020);
    EXPECT_TRUE(lines.empty());
    lines = LoggedLines(
        "0x3F", []() -> uint32_t { throw std::runtime_error("not ours"); }, 0x80090020);
    EXPECT_TRUE(lines.empty());
}
