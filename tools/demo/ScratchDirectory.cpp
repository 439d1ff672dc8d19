#include "ScratchDirectory.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

ScratchDirectory::ScratchDirectory() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/nimbex-demo.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("cannot create a temporary directory from " + pattern);
    path_ = buffer.data();
}

ScratchDirectory::~ScratchDirectory() {
    std::string ignored;
    Remove(ignored);
}

std::string ScratchDirectory::Sub(const std::string& name) const {
    const std::string sub = path_ + "/" + name;
    mkdir(sub.c_str(), 0700);
    return sub;
}

bool ScratchDirectory::Remove(std::string& error) {
    if (path_.empty()) return true;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    if (ec) {
        error = path_ + ": " + ec.message();
        return false;
    }
    path_.clear();
    return true;
}
