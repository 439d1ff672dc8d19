// nimbex as a user runs it: the words on the command line, what it prints,
// its JSON parsed back, and its exit status; the services are those of the
// local signature service.
#include <gtest/gtest.h>
#include <json/json.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "LocalService.h"
#include "TempEnv.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/SavedCredentials.h"

namespace {

struct Result {
    int status = -1;
    std::string out, err;
    Json::Value json() const { return nimbex_test::JsonOf(out); }
};

// The shell command that runs nimbex with the words of `line` (separated by single spaces,
// none has a space of its own).
std::string Command(const std::string& line) {
    std::string command = "'" NIMBEX_CLI_PATH "'";
    std::istringstream words(line);
    for (std::string w; words >> w;) command += " '" + w + "'";
    return command;
}

// Runs nimbex with the words of `line`; `input` is written to its descriptor 3.
Result Nimbex(const std::string& line, const std::string& input = "") {
    const nimbex_test::TempDir dir;
    std::ofstream(dir.path() + "/in") << input;
    const std::string command =
        Command(line) + " 3<" + dir.path() + "/in >" + dir.path() + "/out 2>" + dir.path() + "/err";
    const int status = system(command.c_str());
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = nimbex_test::FileText(dir.path() + "/out");
    r.err = nimbex_test::FileText(dir.path() + "/err");
    return r;
}

// Runs nimbex with the words of `line` on a new pseudo-terminal; `answer` is typed once the
// terminal shows `prompt`. Returns what the terminal showed and the exit status.
Result OnTerminal(const std::string& line, const std::string& prompt, const std::string& answer) {
    const std::string command = "exec " + Command(line);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Result r;
    bool answered = false;
    char buffer[4096];
    for (;;) {
        pollfd fd = {master, POLLIN, 0};
        if (poll(&fd, 1, 60000) <= 0) break;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the child has gone
        r.out.append(buffer, static_cast<size_t>(n));
        if (!answered && r.out.find(prompt) != std::string::npos) {
            EXPECT_EQ(static_cast<ssize_t>(answer.size()),
                      write(master, answer.data(), answer.size()));
            answered = true;
        }
    }
    close(master);
    const int status = nimbex_test::WaitExit(pid);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class Cli : public ::testing::Test {
  protected:
    nimbex_test::TempEnv env;
};

TEST_F(Cli, UsageErrorsAndModuleFailuresHaveTheirExitStatusAndOneLine) {
    const struct {
        std::string line;
        int status;
        std::string err;  // the whole of standard error, when not empty
    } cases[] = {
        {"--help", 0, ""},
        {"service --help", 0, ""},
        {"cert list --help", 0, ""},
        {"", 2, ""},
        {"bogus", 2, "nimbex: unknown command 'bogus' (see nimbex --help)\n"},
        {"service add x --auth https://a/", 2,
         "nimbex service: option --sign is required (see nimbex service --help)\n"},
        {"timeout set soon", 2, ""},
        {"cert list", 2, ""},
        {"service add x --auth https://a/ --sign https://a/s/ --user u", 2, ""},
        {"service delete nope", 1,
         "nimbex: service delete nope: error 2 (0x00000002): not found\n"},
        {"--module /nonexistent.so timeout get", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Result r = Nimbex(c.line);
        EXPECT_EQ(c.status, r.status) << r.err;
        if (!c.err.empty()) {
            EXPECT_EQ(c.err, r.err);
        }
        if (c.status == 0) {
            EXPECT_NE(std::string::npos, r.out.find("usage: nimbex"));
        } else {
            EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n'));
        }
    }
    EXPECT_EQ(R"({"error":{"code":2,"hex":"0x00000002","meaning":"not found",)"
              R"("what":"service delete nope"}})",
              nimbex_test::CompactJson(Nimbex("--json service delete nope").json()));
}

TEST_F(Cli, ServicesAreDiscoveredAndTheirCertificatesListedInstalledAndCleanedUp) {
    nimbex_test::LocalService svc;
    setenv("NIMBEX_CA_FILE", svc.caFile().c_str(), 1);
    const std::string url = svc.discoveryUrl();

    const Json::Value found = Nimbex("service discover " + url + " --json").json();
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ("No unique", found[0]["name"].asString());
    EXPECT_EQ(0, Nimbex("service discover " + url + " --save").status);
    const Json::Value listed = Nimbex("--json service list").json();
    ASSERT_EQ(2u, listed.size());
    std::string v2;
    for (const Json::Value& s : listed)
        if (s["sign_url"].asString() == svc.service("local-v2").sign) v2 = s["name"].asString();
    ASSERT_FALSE(v2.empty());

    setenv("NIMBEX_TEST_PASSWORD", "demo-password", 1);
    const Json::Value certs =
        Nimbex("cert list --json --user demo --password-env NIMBEX_TEST_PASSWORD --service " + v2)
            .json();
    unsetenv("NIMBEX_TEST_PASSWORD");
    // Two keys, four with the GOST engine on the service.
    ASSERT_EQ(svc.readyLine()["gost"]["available"].asBool() ? 4u : 2u, certs.size());
    EXPECT_EQ(1u, certs[0]["id"].asUInt());
    EXPECT_EQ("/CN=Demo RSA key", certs[0]["subject"].asString());
    EXPECT_TRUE(certs[0]["has_pin"].asBool());
    EXPECT_EQ(1u, certs[0]["key_spec"].asUInt());
    EXPECT_EQ("", LoadUserName(v2));  // listing saves nothing

    const std::string install = "cert install --service " + v2 + " --user demo --password-fd 3";
    const Result wrong = Nimbex(install + " --id 1", "not-the-password\n");
    EXPECT_EQ(1, wrong.status);
    EXPECT_EQ(0u, wrong.err.find("nimbex: cert list --service " + v2 + ": error ")) << wrong.err;
    const Result installed = Nimbex(install + " --id 2", "demo-password\n");
    ASSERT_EQ(0, installed.status) << installed.err;
    EXPECT_EQ("demo", LoadUserName(v2));
    const Json::Value linked = Nimbex("cert linked --json").json();
    ASSERT_EQ(1u, linked.size());
    EXPECT_EQ(v2, linked[0]["service"].asString());
    EXPECT_EQ("/CN=Demo EC key", linked[0]["subject"].asString());
    EXPECT_NE(std::string::npos, installed.out.find(linked[0]["container"].asString()));
    EXPECT_EQ(0, Nimbex("cert cleanup --service " + v2).status);
    EXPECT_EQ(1u, Nimbex("cert linked --json").json().size());  // the key is still there

    RegPutString(std::string(kModuleOptionsSection) + "AuthApp",
                 nimbex_test::LocalService::authAppPath());
    EXPECT_EQ(0, Nimbex("logout --service " + v2).status);
    EXPECT_EQ("", LoadUserName(v2));
    EXPECT_EQ(0, Nimbex("timeout set 1500").status);
    EXPECT_EQ(1500u, Nimbex("timeout get --json").json()["timeout_ms"].asUInt());
    unsetenv("NIMBEX_CA_FILE");
}

// Signing, the PIN and key generation through the reader, as a user does it:
// the PIN typed on a terminal, the progress bar only there, the signatures checked by openssl
// (the CMS signer's chain in cli_demo).
TEST_F(Cli, SignsOnATerminalAndChecksPinsAndMakesKeys) {
    nimbex_test::LocalService svc;
    setenv("NIMBEX_CA_FILE", svc.caFile().c_str(), 1);
    const nimbex_test::LocalServiceUrls& s = svc.service("local-v2");
    ASSERT_EQ(0, Nimbex("service add " + s.name + " --auth " + s.auth + " --sign " + s.sign +
                        " --docstore " + s.docstore)
                     .status);
    const std::string on = " --service " + s.name;
    ASSERT_EQ(
        0,
        Nimbex("cert install --id 1 --user demo --password-fd 3" + on, "demo-password\n").status);
    const std::string doc = env.root() + "/doc.bin";
    std::ofstream(doc) << std::string(3u << 20, 'd');

    const Result typed = OnTerminal("sign " + doc + on + " --cms", "PIN: ", "1234\n");
    EXPECT_EQ(0, typed.status) << typed.out;
    EXPECT_EQ(std::string::npos, typed.out.find("1234")) << "the PIN was echoed";
    EXPECT_NE(std::string::npos, typed.out.find("] 100%")) << typed.out;
    setenv("NIMBEX_TEST_PIN", "1234", 1);
    const std::string pin = " --pin-env NIMBEX_TEST_PIN";
    const Result quiet = OnTerminal("sign " + doc + on + " --quiet" + pin, "never", "");
    EXPECT_EQ(0, quiet.status) << quiet.out;
    EXPECT_EQ(std::string::npos, quiet.out.find('%')) << quiet.out;

    const Result piped = Nimbex("sign " + doc + on + pin + " --out " + doc + ".sig");
    EXPECT_EQ(0, piped.status) << piped.err;
    EXPECT_EQ(std::string::npos, piped.err.find('%'));
    const std::string raw = "openssl cms -verify -binary -inform DER -purpose any -noverify -in " +
                            doc + ".p7s -content " + doc + " -signer " + env.root() +
                            "/signer.pem -out /dev/null 2>/dev/null && openssl x509 -in " +
                            env.root() + "/signer.pem -pubkey -noout > " + env.root() +
                            "/pub.pem && openssl dgst -sha256 -verify " + env.root() +
                            "/pub.pem -signature " + doc + ".sig " + doc + " >/dev/null";
    EXPECT_EQ(0, system(raw.c_str())) << raw;

    setenv("NIMBEX_TEST_PIN", "9999", 1);
    const Result wrong = Nimbex("pin verify --pin-fd 3" + on, "0000\n");
    EXPECT_EQ(1, wrong.status);
    EXPECT_EQ("nimbex: pin verify: error 2148532331 (0x8010006B): wrong PIN; 9 tries left\n",
              wrong.err);
    EXPECT_EQ(0,
              Nimbex("pin change --pin-fd 3 --new-pin-env NIMBEX_TEST_PIN" + on, "1234\n").status);
    EXPECT_EQ(0, Nimbex("pin verify" + on + pin).status);

    EXPECT_EQ(0, Nimbex("key generate --container made" + on + pin).status);
    EXPECT_EQ(2u, Nimbex("cert linked --json").json().size());
    EXPECT_EQ(2, Nimbex("sign " + doc + on + pin).status);
    const Result made = Nimbex("sign " + doc + on + " --container made --json" + pin);
    EXPECT_EQ("CLOUD\\" + s.name + "\\made", made.json()["container"].asString()) << made.err;
    EXPECT_EQ(0, Nimbex("sign " + doc + on + " --container made --cms --pem --out -" + pin)
                     .out.find("-----BEGIN CMS-----"));
    unsetenv("NIMBEX_TEST_PIN");
    unsetenv("NIMBEX_CA_FILE");
}

}  // namespace
