#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "KelAssertions.h"
#include "TempEnv.h"
#include "auth/BrowserRunner.h"
#include "base/ErrorCodes.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "operations/KelContainerConnector.h"

namespace {

// Writes an executable shell script and returns its path.
std::string Script(const nimbex_test::TempDir& dir, const std::string& name,
                   const std::string& body) {
    const std::string path = dir.path() + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
    return path;
}

}  // namespace

TEST(BrowserRunner, ReadsTheFirstLineWithoutLineEnds) {
    nimbex_test::TempDir dir;
    const std::string app = Script(dir, "app", "printf 'a=1&url=%s\\r\\r\\n' \"$1\"; echo second");
    std::string out;
    EXPECT_TRUE(DefaultBrowserRunner(app + " \"https://x/y?q=1&r=2\"", out));
    EXPECT_EQ(out, "a=1&url=https://x/y?q=1&r=2");
}

TEST(BrowserRunner, LastLineWithoutNewlineCounts) {
    nimbex_test::TempDir dir;
    std::string out;
    EXPECT_TRUE(RunBrowserCommand(Script(dir, "app", "printf 'k=v'"), out, 10000));
    EXPECT_EQ(out, "k=v");
}

TEST(BrowserRunner, NothingWrittenOrNotStartedIsFalse) {
    nimbex_test::TempDir dir;
    std::string out = "untouched";
    EXPECT_FALSE(RunBrowserCommand(Script(dir, "silent", "exit 3"), out, 10000));
    EXPECT_FALSE(RunBrowserCommand(dir.path() + "/missing \"u\"", out, 10000));
    EXPECT_FALSE(RunBrowserCommand(Script(dir, "noexec", "echo x") + "/not-a-dir", out, 10000));
    EXPECT_EQ(out, "untouched");
}

TEST(BrowserRunner, SilentProgramIsEndedAtTheLimit) {
    nimbex_test::TempDir dir;
    std::string out;
    EXPECT_FALSE(RunBrowserCommand(Script(dir, "hang", "sleep 7"), out, 200));
    // Partial output without a line end is no answer either.
    EXPECT_FALSE(RunBrowserCommand(Script(dir, "partial", "printf 'half'; sleep 7"), out, 200));
}

TEST(BrowserRunner, ProgramThatKeepsRunningAfterItsLineIsEnded) {
    nimbex_test::TempDir dir;
    std::string out;
    EXPECT_TRUE(RunBrowserCommand(Script(dir, "linger", "echo done=1; sleep 7"), out, 10000));
    EXPECT_EQ(out, "done=1");
}

TEST(BrowserRunner, LongAndBinaryLinesAreCut) {
    nimbex_test::TempDir dir;
    std::string out;
    EXPECT_TRUE(RunBrowserCommand(
        Script(dir, "long", "head -c 20000 /dev/zero | tr '\\0' 'x'; echo"), out, 10000));
    EXPECT_EQ(out.size(), kBrowserMaxLine);
    EXPECT_TRUE(RunBrowserCommand(Script(dir, "bin", "printf 'a\\000b\\377\\n'"), out, 10000));
    EXPECT_EQ(out, std::string("a\0b\xff", 4));
}

TEST(BrowserRunner, SignInWithABrokenApplicationEndsWithAnError) {
    nimbex_test::TempEnv env;
    nimbex_test::TempDir dir;
    const std::string authApp = std::string(kModuleOptionsSection) + "AuthApp";
    // Only the hanging application meets the short limit: the others answer
    // or end at once, however slowly the machine runs.
    KelContainerConnector c("https://auth.test/a", "https://sign.test/s", "",
                            [](const std::string& command, std::string& output) {
                                const bool hangs = command.find("/hang ") != std::string::npos;
                                return RunBrowserCommand(command, output, hangs ? 300 : 10000);
                            });
    const std::vector<std::pair<std::string, std::string>> apps = {
        {dir.path() + "/missing", "Cannot get auth token from the OAuth2 client"},
        {Script(dir, "hang", "sleep 3"), "Cannot get auth token from the OAuth2 client"},
        {Script(dir, "garbage", "head -c 300 /dev/urandom | tr -d '\\n&='; echo"),
         "Cannot find a \"access_token\" field in the auth server response"},
    };
    for (const auto& app : apps) {
        RegPutString(authApp, app.first);
        SCOPED_TRACE(app.first);
        const KelException e = nimbex_test::CaughtKelException([&] { c.SignInInteractive(""); });
        EXPECT_EQ(e.code(), codes::kFail);
        EXPECT_TRUE(nimbex_test::Contains(e.what(), app.second)) << e.what();
    }
    EXPECT_TRUE(c.AccessToken().value.empty());
}

TEST(BrowserCommandTest, QuotesTheUrlUnescaped) {
    EXPECT_EQ("/opt/app/auth \"https://a/oauth/authorize?x=1&y=\"\"",
              MakeBrowserCommand("/opt/app/auth", "https://a/oauth/authorize?x=1&y=\""));
}
