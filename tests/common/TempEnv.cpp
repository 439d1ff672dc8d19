#include "TempEnv.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
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

std::string FileText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

namespace {
const char* const kVariables[] = {"NIMBEX_MACHINE_DIR", "NIMBEX_USER_DIR", "NIMBEX_RUNTIME_DIR"};
}  // namespace

TempEnv::TempEnv() {
    const std::string dirs[] = {machineDir(), userDir(), runtimeDir()};
    for (int i = 0; i < 3; ++i) {
        mkdir(dirs[i].c_str(), 0700);
        const char* old = getenv(kVariables[i]);
        saved_[i] = {old != nullptr, old ? old : ""};
        setenv(kVariables[i], dirs[i].c_str(), 1);
    }
}

TempEnv::~TempEnv() {
    for (int i = 0; i < 3; ++i) {
        if (saved_[i].had)
            setenv(kVariables[i], saved_[i].value.c_str(), 1);
        else
            unsetenv(kVariables[i]);
    }
}

}  // namespace nimbex_test
