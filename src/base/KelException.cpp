#include "base/KelException.h"

#include <capi/wintypes.h>

#include <vector>

#include "base/ErrorCodes.h"

namespace {
const char kPrefix[] = "Cloud exception: ";
}

KelException::KelException(const std::string& text, uint32_t code)
    : code_(code == 0 ? codes::kFail : code) {
    message_.reserve(text.size() + sizeof(kPrefix) - 1);
    message_ = kPrefix;
    message_ += text;
    std::vector<wchar_t> wide(message_.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, message_.c_str(), -1, wide.data(),
                                static_cast<int>(wide.size()));
    if (n > 0) wideMessage_.assign(wide.data());
}

KelException::~KelException() = default;

const char* KelException::what() const noexcept {
    return message_.c_str();
}

const wchar_t* KelException::wide_what() const noexcept {
    return wideMessage_.c_str();
}
