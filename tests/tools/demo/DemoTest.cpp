// The demo as a program: its exit status, and that it works in a temporary
// configuration of its own. The walk-through checks its own steps (a step
// that should work and does not fails the run); the module's behaviour is
// tested by the module's own suites.
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "TempEnv.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/ServerSettings.h"

namespace {

// Variables of the caller that would change what the demo does.
const char kCleanEnvironment[] =
    "env -u NIMBEX_CA_FILE -u NIMBEX_AUTHAPP_MODE -u NIMBEX_AUTHAPP_ERROR "
    "-u NIMBEX_AUTHAPP_CONFIG -u NIMBEX_DEMO_LOGIN -u NIMBEX_DEMO_PASSWORD "
    "-u NIMBEX_DEMO_LOCALSERVICE -u NIMBEX_DEMO_AUTHAPP ";
// The machine-wide registry the module uses when NIMBEX_MACHINE_DIR is not set.
const char kDefaultMachineDir[] = "/var/lib/nimbex";

size_t EntriesIn(const std::string& directory) {
    return std::distance(std::filesystem::directory_iterator(directory), {});
}

// The service entries and "AuthApp" of the registry the test process sees.
std::vector<std::string> Registry() {
    std::vector<std::string> out;
    for (const ServerSettings& s : EnumAllServerSettings())
        out.push_back(s.name + " " + s.authUrl + " " + s.restUrl + " " + s.docstoreUrl);
    out.push_back("AuthApp " + RegGetString(std::string(kModuleOptionsSection) + "AuthApp"));
    return out;
}

class Demo : public ::testing::Test {
  protected:
    // Runs the demo with the user's home and XDG directories in `home` (which must stay
    // empty) and its temporary directory below `tmp` (which must be empty again after the
    // run); `environment` adds words for env (options first). Returns the exit status.
    int Run(const std::string& arguments, const std::string& environment) {
        const std::string command =
            std::string(kCleanEnvironment) + environment + " HOME='" + home.path() +
            "' XDG_CONFIG_HOME='" + home.path() + "/config' XDG_DATA_HOME='" + home.path() +
            "/data' XDG_CACHE_HOME='" + home.path() + "/cache' XDG_RUNTIME_DIR='" + home.path() +
            "/run' TMPDIR='" + tmp.path() + "' '" + NIMBEX_DEMO_PATH + "' " + arguments +
            " >/dev/null 2>&1";
        const bool machineDirExisted = std::filesystem::exists(kDefaultMachineDir);
        const int status = system(command.c_str());
        EXPECT_EQ(EntriesIn(home.path()), 0u) << "the demo wrote to the user's directories";
        EXPECT_EQ(EntriesIn(tmp.path()), 0u) << "the demo left its temporary directory";
        EXPECT_EQ(std::filesystem::exists(kDefaultMachineDir), machineDirExisted);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    nimbex_test::TempDir home, tmp;
};

const char kOwnRegistry[] = "-u NIMBEX_MACHINE_DIR -u NIMBEX_USER_DIR -u NIMBEX_RUNTIME_DIR ";

}  // namespace

// The whole walk-through runs in LeavesTheUsersRegistryAsItWas.
TEST_F(Demo, ExitStatusInATemporaryConfiguration) {
    struct Case {
        const char* what;
        std::string arguments, environment;
        int status;
    };
    const std::vector<Case> cases = {
        {"reader table only", "--table-only '" + std::string(NIMBEX_MODULE_PATH) + "'", "", 0},
        {"wrong password", "", std::string(kOwnRegistry) + "NIMBEX_DEMO_PASSWORD=wrong-password",
         1},
        {"service that cannot start", "",
         std::string(kOwnRegistry) + "NIMBEX_DEMO_LOCALSERVICE=/nonexistent/nimbex-localservice",
         1},
        {"module that cannot be loaded", "/nonexistent/libnimbex.so", kOwnRegistry, 1},
        {"bad command line", "--no-such-option", kOwnRegistry, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(c.arguments, c.environment), c.status);
    }
}

TEST_F(Demo, LeavesTheUsersRegistryAsItWas) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
        int status;
    };
    const std::vector<Case> cases = {
        {"an entry of the user and an \"AuthApp\"",
         [] {
             RegPutString(std::string(kModuleOptionsSection) + "AuthApp", "/opt/previous/authapp");
             SaveServerSettings(
                 ServerSettings("mine", "https://auth.example/a", "https://sign.example/s"), false);
         },
         0},
        // An entry of the name of a demo service is never overwritten: the run fails.
        {"an entry of the same name",
         [] {
             SaveServerSettings(ServerSettings("local-v2", "https://auth.example/mine",
                                               "https://sign.example/mine"),
                                true);
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nimbex_test::TempEnv
            env;  // NIMBEX_MACHINE_DIR, NIMBEX_USER_DIR for this process and the demo
        c.prepare();
        const std::vector<std::string> before = Registry();
        EXPECT_EQ(Run("", ""), c.status);
        EXPECT_EQ(Registry(), before);
    }
}
