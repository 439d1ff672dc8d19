#include "HostError.h"

#include <cstdio>

namespace csphost {

namespace {
std::string WithCode(const std::string& what, uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    return what + ": " + hex;
}
}  // namespace

HostError::HostError(const std::string& what, uint32_t code)
    : std::runtime_error(WithCode(what, code)), code_(code) {}

}  // namespace csphost
