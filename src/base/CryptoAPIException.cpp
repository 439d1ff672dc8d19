#include "base/CryptoAPIException.h"

#include <capi/wintypes.h>

#include <cstdio>

namespace veltra {

CryptoAPIException::CryptoAPIException(uint32_t code) : code_(code) {
    char buffer[512] = {};
    int prefix = std::snprintf(buffer, sizeof(buffer), "Error code 0x%x: ", code);
    DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       buffer + prefix, static_cast<DWORD>(sizeof(buffer) - prefix), nullptr);
    if (n == 0) std::snprintf(buffer, sizeof(buffer), "Error code 0x%x.", code);
    message_ = buffer;
}

CryptoAPIException::~CryptoAPIException() = default;

const char* CryptoAPIException::what() const noexcept {
    return "";
}

const std::string& CryptoAPIException::message() const noexcept {
    return message_;
}

}  // namespace veltra
