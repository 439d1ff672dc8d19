// ParseKeyValueText on arbitrary text: every pair it returns must be a piece
// of the text between "&" separators, split at its first "=".
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/TextEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto pairs = ParseKeyValueText(text);
    const std::string framed = "&" + text + "&";
    for (const auto& kv : pairs) {
        if (kv.first.find_first_of("&=") != std::string::npos) std::abort();
        if (kv.second.find('&') != std::string::npos) std::abort();
        const std::string pair = "&" + kv.first + "=" + std::string(kv.second) + "&";
        if (framed.find(pair) == std::string::npos) std::abort();
    }
    size_t pieces = 1;
    for (char c : text) pieces += c == '&';
    if (pairs.size() > pieces) std::abort();
    return 0;
}
