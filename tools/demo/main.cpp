// nimbex-demo: shows what the module does today.
//
//   nimbex-demo [--table-only] [--service-config FILE] [path/to/libnimbex.so]
//
// First the reader table, through libnimbex.so loaded with dlopen as the CSP
// loads it. Then, unless --table-only is given, a walk-through of the
// module's classes against the local signature service (ServiceWalkThrough).
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ReaderTable.h"
#include "RegistryPlacement.h"
#include "ScratchDirectory.h"
#include "ServiceWalkThrough.h"
#include "base/Wipe.h"

namespace {

// The local service's documented default user.
const char kDemoLogin[] = "demo";
const char kDemoPassword[] = "demo-password";

std::string DirectoryOfSelf(const char* argv0) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string DefaultModulePath(const std::string& selfDir) {
#ifdef NIMBEX_DEFAULT_MODULE
    (void)selfDir;
    return NIMBEX_DEFAULT_MODULE;
#else
    return selfDir + "/libnimbex.so";
#endif
}

// A tool of the build tree: the environment variable when set, else the
// program next to the demo (tools/<folder>/<name>), else where the build put it.
std::string ToolPath(const char* variable, const std::string& selfDir, const char* folder,
                     const char* name, const char* built) {
    const char* set = getenv(variable);
    if (set && *set) return set;
    const std::string beside = selfDir + "/../" + folder + "/" + name;
    char resolved[PATH_MAX];
    if (realpath(beside.c_str(), resolved) && access(resolved, X_OK) == 0) return resolved;
    return built ? built : beside;
}

std::string EnvOr(const char* variable, const char* fallback) {
    const char* set = getenv(variable);
    return set && *set ? set : fallback;
}

int Usage(const char* argv0) {
    std::fprintf(
        stderr, "usage: %s [--table-only] [--service-config FILE] [path/to/libnimbex.so]\n", argv0);
    return 2;
}

}  // namespace

#ifndef NIMBEX_LOCALSERVICE_BUILT
#define NIMBEX_LOCALSERVICE_BUILT nullptr
#endif
#ifndef NIMBEX_AUTHAPP_BUILT
#define NIMBEX_AUTHAPP_BUILT nullptr
#endif

int main(int argc, char** argv) {
    bool tableOnly = false;
    std::string module, serviceConfig;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--table-only")) {
            tableOnly = true;
        } else if (!std::strcmp(argv[i], "--service-config") && i + 1 < argc) {
            serviceConfig = argv[++i];
        } else if (argv[i][0] == '-' || !module.empty()) {
            return Usage(argv[0]);
        } else {
            module = argv[i];
        }
    }
    const std::string selfDir = DirectoryOfSelf(argv[0]);
    if (module.empty()) module = DefaultModulePath(selfDir);
    // The table shows handlers working on a reader context, which reads the
    // registry: keep it in a temporary configuration like the walk-through.
    int rc = 1;
    try {
        ScratchDirectory scratch;
        const RegistryPlacement placement(scratch.path());
        rc = ShowReaderTable(module);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nimbex-demo: %s\n", e.what());
    }
    if (rc != 0) return rc;
    if (tableOnly) return 0;

    WalkThroughOptions options;
    options.localServicePath = ToolPath("NIMBEX_DEMO_LOCALSERVICE", selfDir, "localservice",
                                        "nimbex-localservice", NIMBEX_LOCALSERVICE_BUILT);
    options.authAppPath =
        ToolPath("NIMBEX_DEMO_AUTHAPP", selfDir, "authapp", "nimbex-authapp", NIMBEX_AUTHAPP_BUILT);
    options.serviceConfig = serviceConfig;
    options.login = EnvOr("NIMBEX_DEMO_LOGIN", kDemoLogin);
    std::string password = EnvOr("NIMBEX_DEMO_PASSWORD", kDemoPassword);
    WipeOnExit wipePassword(password);
    return ServiceWalkThrough(options).Run(password) ? 0 : 1;
}
