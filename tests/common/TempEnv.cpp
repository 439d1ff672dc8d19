#include "TempEnv.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

namespace nimbex_test {

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/nimbex-test-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {
void swapEnv(const char* name, const std::string& value, bool& had, std::string& old) {
    const char* cur = getenv(name);
    had = cur != nullptr;
    old = cur ? cur : "";
    setenv(name, value.c_str(), 1);
}
void restoreEnv(const char* name, bool had, const std::string& old) {
    if (had)
        setenv(name, old.c_str(), 1);
    else
        unsetenv(name);
}
}  // namespace

TempEnv::TempEnv() {
    mkdir(machineDir().c_str(), 0700);
    mkdir(userDir().c_str(), 0700);
    mkdir(runtimeDir().c_str(), 0700);
    swapEnv("NIMBEX_MACHINE_DIR", machineDir(), machine_.had, machine_.value);
    swapEnv("NIMBEX_USER_DIR", userDir(), user_.had, user_.value);
    swapEnv("NIMBEX_RUNTIME_DIR", runtimeDir(), runtime_.had, runtime_.value);
}

TempEnv::~TempEnv() {
    restoreEnv("NIMBEX_MACHINE_DIR", machine_.had, machine_.value);
    restoreEnv("NIMBEX_USER_DIR", user_.had, user_.value);
    restoreEnv("NIMBEX_RUNTIME_DIR", runtime_.had, runtime_.value);
}

}  // namespace nimbex_test
