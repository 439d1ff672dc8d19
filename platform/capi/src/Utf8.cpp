// UTF-8 conversions used inside the library (names kept in the registry and
// in the store databases).
#include "CertInternal.h"

namespace capi {

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t ch : text) {
        uint32_t v = static_cast<uint32_t>(ch);
        if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) v = 0xFFFD;
        if (v < 0x80) {
            out.push_back(static_cast<char>(v));
        } else if (v < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (v >> 6)));
            out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
        } else if (v < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (v >> 12)));
            out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (v >> 18)));
            out.push_back(static_cast<char>(0x80 | ((v >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
        }
    }
    return out;
}

bool Utf8ToWide(const std::string& text, std::wstring* out) {
    std::wstring result;
    size_t i = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    while (i < text.size()) {
        uint32_t c = p[i];
        size_t n = c < 0x80             ? 0
                   : (c & 0xE0) == 0xC0 ? 1
                   : (c & 0xF0) == 0xE0 ? 2
                   : (c & 0xF8) == 0xF0 ? 3
                                        : 4;
        if (n == 4 || (n > 0 && i + n >= text.size())) return false;
        uint32_t v = n == 0 ? c : n == 1 ? (c & 0x1F) : n == 2 ? (c & 0x0F) : (c & 0x07);
        for (size_t k = 1; k <= n; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            v = (v << 6) | (p[i + k] & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (v < minimum[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
        result.push_back(static_cast<wchar_t>(v));
        i += n + 1;
    }
    *out = std::move(result);
    return true;
}

}  // namespace capi
