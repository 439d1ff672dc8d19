// The demo end to end: the reader table through the built module, then the
// walk-through against a local signature service the demo starts itself.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "TempEnv.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/ServerSettings.h"

namespace {

struct DemoRun {
    int status = -1;
    std::vector<std::string> lines;
};

// Variables of the caller that would change what the demo does.
const char kCleanEnvironment[] =
    "env -u NIMBEX_CA_FILE -u NIMBEX_AUTHAPP_MODE -u NIMBEX_AUTHAPP_ERROR "
    "-u NIMBEX_AUTHAPP_CONFIG -u NIMBEX_DEMO_LOGIN -u NIMBEX_DEMO_PASSWORD "
    "-u NIMBEX_DEMO_LOCALSERVICE -u NIMBEX_DEMO_AUTHAPP ";

// Runs the demo with `environment` (NAME=value words for env) and `arguments`.
DemoRun RunDemo(const std::string& arguments, const std::string& environment = std::string()) {
    DemoRun run;
    const std::string command = std::string(kCleanEnvironment) + environment + " '" +
                                NIMBEX_DEMO_PATH + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char line[4096];
    while (fgets(line, sizeof(line), pipe)) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        run.lines.push_back(text);
    }
    run.status = pclose(pipe);
    return run;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The answer of the step `what` ("  <what> -> <answer>") in `lines`; "(missing)" when absent.
std::string Answer(const std::vector<std::string>& lines, const std::string& what) {
    const std::string prefix = "  " + what + " -> ";
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    return "(missing)";
}

// The lines of the service section "  [name]" up to the next blank line.
std::vector<std::string> Section(const std::vector<std::string>& lines, const std::string& name) {
    auto it = std::find(lines.begin(), lines.end(), "  [" + name + "]");
    if (it == lines.end()) return {};
    auto end = std::find(it, lines.end(), std::string());
    return std::vector<std::string>(it + 1, end);
}

bool AnyLineContains(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

size_t EntriesIn(const std::string& directory) {
    size_t count = 0;
    if (DIR* d = opendir(directory.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++count;
        closedir(d);
    }
    return count;
}

void ExpectReaderTable(const DemoRun& run) {
    std::vector<std::string> header(run.lines.begin(),
                                    run.lines.begin() + std::min<size_t>(6, run.lines.size()));
    EXPECT_TRUE(Has(header, "reader name:       CLOUD"));
    EXPECT_TRUE(Has(header, "media name:        Cloud Token"));
    EXPECT_TRUE(Has(header, "interface version: 3"));

    const std::regex function(R"(  0x([0-9a-f]{4})  (\w+) +(supported|not supported yet))");
    const std::regex summary(R"((\d+) of 53 functions supported)");
    int functions = 0, supported = 0, reported = -1;
    std::smatch m;
    for (const std::string& line : run.lines) {
        if (std::regex_match(line, m, function)) {
            ++functions;
            supported += m[3] == "supported";
            if (m[2] == "get_reader_name" || m[2] == "release_key") {
                EXPECT_EQ(m[3], "supported") << line;
            }
        } else if (std::regex_match(line, m, summary)) {
            reported = std::stoi(m[1]);
        }
    }
    EXPECT_EQ(functions, 53);
    EXPECT_EQ(reported, supported);
}

// The steps of one service that work today against the default configuration.
void ExpectServiceSteps(const std::vector<std::string>& section, bool version2) {
    ASSERT_FALSE(section.empty());
    EXPECT_EQ(Answer(section, "HasApiVersion1()"), "true");
    EXPECT_EQ(Answer(section, "HasApiVersion2()"), version2 ? "true" : "false");
    EXPECT_EQ(Answer(section, "HasDocumentStore()"), version2 ? "true" : "false");

    const std::regex signIn(R"(access token of (\d+) characters, expires \S+Z \(in (-?\d+) s\))");
    const std::string answer = Answer(section, "sign-in: EnsureAuthenticated() (password grant)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(answer, m, signIn)) << answer;
    EXPECT_GT(std::stoi(m[1]), 0);
    EXPECT_GT(std::stoi(m[2]), 0);     // not yet expired
    EXPECT_LE(std::stoi(m[2]), 3600);  // the service's default access lifetime

    EXPECT_EQ(Answer(section, "IsMfaRequired(\"SignDocument\")"), "false");
    EXPECT_EQ(Answer(section, "policy provider types"), "24, 80");
    EXPECT_EQ(Answer(section, "GetSupportedParamSets(0x2E49) for provider type 80"),
              "1.2.840.10045.3.1.7");
    EXPECT_EQ(Answer(section, "GetSupportedParamSets(0) (every provider type)"),
              "1.2.840.10045.3.1.7, 1.3.14.3.2.11, 1.3.14.3.2.22");
    // The certificate list is shown whether or not it is built yet.
    const std::string certificates = Answer(section, "GetCertificates()");
    EXPECT_TRUE(certificates == "not supported yet (0x80090029)" ||
                std::regex_match(certificates, std::regex(R"(2 certificates, 1 .*, 2 .*)")))
        << certificates;
    EXPECT_EQ(Answer(section, "SignOut() through nimbex-authapp"), "signed out");
    EXPECT_EQ(Answer(section, "DropTokens()"), "tokens wiped, access token now 0 characters");
}

class Demo : public ::testing::Test {
  protected:
    // The demo's temporary directories go below `tmp`, so the test sees
    // whether they were removed.
    std::string Tmp() const { return "TMPDIR='" + tmp.path() + "' "; }
    std::string Unset() const {
        return "-u NIMBEX_MACHINE_DIR -u NIMBEX_USER_DIR -u NIMBEX_RUNTIME_DIR ";
    }

    nimbex_test::TempDir tmp;
};

}  // namespace

TEST_F(Demo, TableOnlyThroughTheGivenModule) {
    const DemoRun run = RunDemo("--table-only '" + std::string(NIMBEX_MODULE_PATH) + "'");
    ASSERT_EQ(run.status, 0);
    ExpectReaderTable(run);
    EXPECT_FALSE(Has(run.lines, "service walk-through"));
}

TEST_F(Demo, WalksThroughTheLocalServiceWithATemporaryRegistry) {
    const DemoRun run = RunDemo("", Unset() + Tmp());
    ASSERT_EQ(run.status, 0) << ::testing::PrintToString(run.lines);
    ExpectReaderTable(run);
    EXPECT_TRUE(Has(run.lines, "service walk-through"));
    EXPECT_TRUE(Has(run.lines,
                    "  (management exports are not built yet; the walk-through uses "
                    "the module's classes directly)"));
    EXPECT_FALSE(AnyLineContains(run.lines, "FAILED"));

    const std::string scratch = Answer(run.lines, "create temporary directory");
    EXPECT_EQ(scratch.rfind(tmp.path() + "/nimbex-demo.", 0), 0u) << scratch;
    EXPECT_TRUE(std::regex_match(Answer(run.lines, "start nimbex-localservice"),
                                 std::regex(R"(ready, pid \d+, services local-v2, local-v1, .*)")));
    EXPECT_EQ(Answer(run.lines, "NIMBEX_MACHINE_DIR"), "temporary, " + scratch + "/machine");
    EXPECT_EQ(Answer(run.lines, "NIMBEX_USER_DIR"), "temporary, " + scratch + "/user");
    EXPECT_EQ(Answer(run.lines, "NIMBEX_CA_FILE"), scratch + "/service/ca.pem (the service's CA)");
    EXPECT_EQ(Answer(run.lines, "SaveServerSettings(local-v2, per-user)"),
              "stored under \\local\\KeyDevices\\Cloud\\Default\\local-v2");
    EXPECT_TRUE(std::regex_match(
        Answer(run.lines, "EnumAllServerSettings()"),
        std::regex(R"(2 entries: local-v1 \(rest_URL https://127\.0\.0\.1:\d+/local-v1\), )"
                   R"(local-v2 \(rest_URL https://127\.0\.0\.1:\d+/local-v2\))")));
    const std::string authApp = Answer(run.lines, "set \"AuthApp\"");
    EXPECT_EQ(authApp.rfind("\\config\\KeyDevices\\Cloud\\AuthApp = /", 0), 0u) << authApp;
    EXPECT_NE(authApp.find("/nimbex-authapp"), std::string::npos) << authApp;

    ExpectServiceSteps(Section(run.lines, "local-v2"), true);
    ExpectServiceSteps(Section(run.lines, "local-v1"), false);

    EXPECT_EQ(Answer(run.lines, "stop nimbex-localservice (SIGTERM)"), "exited with status 0");
    EXPECT_EQ(Answer(run.lines, "remove temporary directory"), "removed " + scratch);
    EXPECT_EQ(run.lines.back(), "walk-through: every step that should work worked");
    EXPECT_EQ(EntriesIn(tmp.path()), 0u);
}

TEST_F(Demo, FailedSignInFailsTheRunAndStillStopsTheService) {
    const DemoRun run = RunDemo("", Unset() + Tmp() + "NIMBEX_DEMO_PASSWORD=wrong-password");
    EXPECT_NE(run.status, 0);
    const std::vector<std::string> v2 = Section(run.lines, "local-v2");
    EXPECT_EQ(Answer(v2, "sign-in: EnsureAuthenticated() (password grant)").rfind("FAILED: ", 0),
              0u);
    EXPECT_EQ(Answer(v2, "HasApiVersion2()"), "true");
    EXPECT_EQ(Answer(run.lines, "stop nimbex-localservice (SIGTERM)"), "exited with status 0");
    EXPECT_EQ(EntriesIn(tmp.path()), 0u);
    EXPECT_TRUE(
        std::regex_match(run.lines.back(), std::regex(R"(walk-through: \d+ step\(s\) failed)")))
        << run.lines.back();
}

TEST_F(Demo, ServiceThatCannotStartFailsTheRun) {
    const DemoRun run =
        RunDemo("", Unset() + Tmp() + "NIMBEX_DEMO_LOCALSERVICE=/nonexistent/nimbex-localservice");
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(Answer(run.lines, "start nimbex-localservice").rfind("FAILED: ", 0), 0u);
    EXPECT_FALSE(AnyLineContains(run.lines, "SaveServerSettings"));
    EXPECT_EQ(EntriesIn(tmp.path()), 0u);
}

TEST_F(Demo, UsesTheRegistryTheUserNamesAndLeavesItAsItWas) {
    nimbex_test::TempEnv env;  // NIMBEX_MACHINE_DIR, NIMBEX_USER_DIR for this process and the demo
    const std::string authAppPath = std::string(kModuleOptionsSection) + "AuthApp";
    RegPutString(authAppPath, "/opt/previous/authapp");
    SaveServerSettings(ServerSettings("mine", "https://auth.example/a", "https://sign.example/s"),
                       false);

    const DemoRun run = RunDemo("", Tmp());
    ASSERT_EQ(run.status, 0) << ::testing::PrintToString(run.lines);
    EXPECT_EQ(Answer(run.lines, "NIMBEX_MACHINE_DIR"), "set by you, using " + env.machineDir());
    EXPECT_EQ(Answer(run.lines, "NIMBEX_USER_DIR"), "set by you, using " + env.userDir());
    // The user's entry is listed with the demo's own.
    EXPECT_TRUE(std::regex_match(Answer(run.lines, "EnumAllServerSettings()"),
                                 std::regex(R"(3 entries: local-v1 .*, local-v2 .*, mine .*)")));
    EXPECT_EQ(Answer(run.lines, "DeleteServerSettings(local-v2)"), "removed from your registry");
    EXPECT_EQ(Answer(run.lines, "restore \"AuthApp\""), "back to /opt/previous/authapp");

    EXPECT_EQ(RegGetString(authAppPath), "/opt/previous/authapp");
    const std::vector<ServerSettings> left = EnumAllServerSettings();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, "mine");
}

TEST_F(Demo, NeverOverwritesAnEntryOfTheUsersRegistry) {
    nimbex_test::TempEnv env;
    SaveServerSettings(
        ServerSettings("local-v2", "https://auth.example/mine", "https://sign.example/mine"), true);

    const DemoRun run = RunDemo("", Tmp());
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(Answer(run.lines, "SaveServerSettings(local-v2)"),
              "FAILED: your registry already has an entry of that name; left alone");
    EXPECT_EQ(Answer(run.lines, "stop nimbex-localservice (SIGTERM)"), "exited with status 0");
    const FoundServerSettings mine = FindServerSettings("local-v2", kServerParamName);
    ASSERT_TRUE(mine.isValid);
    EXPECT_EQ(mine.restUrl, "https://sign.example/mine");
    EXPECT_EQ(RegGetString(std::string(kModuleOptionsSection) + "AuthApp"), "");
    EXPECT_TRUE(EnumServerSettings(false).empty());  // the demo's per-user entries are gone
}

TEST_F(Demo, MissingModuleIsReported) {
    const DemoRun run = RunDemo("/nonexistent/libnimbex.so");
    EXPECT_NE(run.status, 0);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines[0].rfind("cannot load /nonexistent/libnimbex.so", 0), 0u);
    EXPECT_FALSE(Has(run.lines, "service walk-through"));
}
