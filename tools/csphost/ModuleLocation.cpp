#include "ModuleLocation.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>

#ifndef NIMBEX_BUILD_MODULE
#define NIMBEX_BUILD_MODULE "libnimbex.so"
#endif
#ifndef NIMBEX_INSTALL_LIBDIR
#define NIMBEX_INSTALL_LIBDIR "lib"
#endif

namespace csphost {

namespace {

std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

}  // namespace

std::string ModuleLocation(const std::string& given) {
    if (!given.empty()) return given;
    const char* env = std::getenv("NIMBEX_MODULE");
    if (env && *env) return env;
    const std::string installed =
        ProgramDirectory() + "/../" + NIMBEX_INSTALL_LIBDIR + "/libnimbex.so";
    if (access(installed.c_str(), R_OK) == 0) return installed;
    return NIMBEX_BUILD_MODULE;
}

}  // namespace csphost
