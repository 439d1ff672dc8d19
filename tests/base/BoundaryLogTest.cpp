// Logging at the boundary: failures at level 1, cancellations at level 2,
// nothing for exceptions that are not the module's. Which levels reach the
// log is the print facility's rule (SupportPrintTest).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <new>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "TempEnv.h"
#include "base/ErrorBoundary.h"
#include "base/KelException.h"

namespace {

// Runs one boundary call in a child whose logging goes to a fresh file with
// every level enabled; the print facility reads its configuration on first
// use, which happens in the child. Returns the lines logged.
std::vector<std::string> LoggedLines(const std::function<uint32_t()>& body, uint32_t expected) {
    nimbex_test::TempDir dir;
    const std::string file = dir.path() + "/log.txt";
    setenv("NIMBEX_LOG", (file + ":0x3F").c_str(), 1);
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

TEST(BoundaryLog, FailuresAtLevelOneCancellationsAtLevelTwoOthersNot) {
    const struct {
        std::function<uint32_t()> body;
        uint32_t code;
        const char* line;  // the pattern of the one line logged; null for none
    } cases[] = {
        {[]() -> uint32_t { throw KelException("Cannot open the store", 0x80092004); }, 0x80092004,
         "level 1 process_kel_exception:[0-9]+: Cloud exception: Cannot open the store"},
        {[]() -> uint32_t { throw KelException("cancelled by the user", 0x8010006E); }, 0x8010006E,
         "level 2 process_kel_exception:[0-9]+: Cloud exception: cancelled by the user"},
        {[]() -> uint32_t { throw std::bad_alloc(); }, 0x80090020, nullptr},
        {[]() -> uint32_t { throw std::runtime_error("not ours"); }, 0x80090020, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const auto lines = LoggedLines(c.body, c.code);
        if (!c.line) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(std::regex_search(
            lines[0], std::regex(std::string(" cloud\\[[0-9]+\\] ") + c.line + "$")))
            << lines[0];
    }
}
