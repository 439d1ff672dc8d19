// Installation and data directories of the support library, and csp_get_paths.
#include <dlfcn.h>
#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SupportPaths.h"
#include "support/support.h"

namespace nimbex_support {

namespace {

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value && *value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/tmp";
}

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string MachineDirectory() {
    std::string dir = Env("NIMBEX_MACHINE_DIR");
    return dir.empty() ? std::string("/var/lib/nimbex") : dir;
}

std::string UserDirectory() {
    std::string dir = Env("NIMBEX_USER_DIR");
    if (!dir.empty()) return dir;
    std::string config = Env("XDG_CONFIG_HOME");
    if (!config.empty()) return config + "/nimbex";
    return HomeDirectory() + "/.config/nimbex";
}

std::string RuntimeDirectory() {
    std::string dir = Env("NIMBEX_RUNTIME_DIR");
    if (!dir.empty()) return dir;
    std::string runtime = Env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return runtime + "/nimbex";
    return "/tmp/nimbex-" + std::to_string(static_cast<unsigned long>(getuid()));
}

std::string LibraryDirectory() {
    std::string dir = Env("NIMBEX_LIB_DIR");
    if (!dir.empty()) return dir;
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&csp_get_paths), &info) && info.dli_fname) {
        std::string file = info.dli_fname;
        char* real = realpath(file.c_str(), nullptr);
        if (real) {
            file = real;
            free(real);
        }
        return DirName(file);
    }
    return "/usr/lib";
}

bool MakeDirectories(const std::string& dir, unsigned mode) {
    if (dir.empty()) return false;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::string parent = DirName(dir);
    if (parent != dir && !MakeDirectories(parent, mode)) return false;
    if (mkdir(dir.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace nimbex_support

using namespace nimbex_support;

namespace {

std::mutex g_pathsLock;
// The record last handed out. A changed environment gives a new record; the
// old one is kept, so a pointer from an earlier call never dangles.
const TCspPaths* g_current = nullptr;
std::vector<const TCspPaths*>* g_records = new std::vector<const TCspPaths*>();
// Every text ever handed out stays valid for the life of the process, so a
// caller may keep a pointer from an earlier call.
std::set<std::string>* g_texts = new std::set<std::string>();

const char* Intern(const std::string& text) {
    return g_texts->insert(text).first->c_str();
}

}  // namespace

extern "C" const TCspPaths* csp_get_paths(void) {
    std::lock_guard<std::mutex> lock(g_pathsLock);
    std::string lib = LibraryDirectory();
    std::string prefix = lib == "/" ? std::string("/") : DirName(lib);
    std::string base = prefix == "/" ? std::string() : prefix;
    TCspPaths paths{};
    paths.size = sizeof(TCspPaths) / sizeof(uintptr_t);
    paths.prefix = Intern(prefix);
    paths.etc_dir = Intern(base == "/usr" ? "/etc/nimbex" : base + "/etc/nimbex");
    paths.var_dir = Intern("/var/lib/nimbex");
    paths.machine_dir = Intern(MachineDirectory());
    paths.user_dir = Intern(UserDirectory());
    paths.runtime_dir = Intern(RuntimeDirectory());
    paths.bin_dir = Intern(base + "/bin");
    paths.share_dir = Intern(base + "/share/nimbex");
    paths.locale_dir = Intern(base + "/share/locale");
    paths.lib_dir = Intern(lib);
    if (!g_current || memcmp(g_current, &paths, sizeof paths) != 0) {
        g_current = new TCspPaths(paths);
        g_records->push_back(g_current);
    }
    return g_current;
}
