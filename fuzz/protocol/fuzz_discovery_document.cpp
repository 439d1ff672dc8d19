#include <cstddef>
#include <cstdint>
#include <string>

#include "base/KelException.h"
#include "protocol/ServiceDiscovery.h"

// The discovery document arrives from any server a user names. Every record
// that comes out must be one the settings layer accepts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    try {
        const auto lookup = [](const std::string& restUrl) {
            return restUrl.size() % 2 ? std::string("known") : std::string();
        };
        for (const ServerSettings& s : DecodeDiscoveryDocument(body, lookup))
            if (!IsValidServerSettings(s) || s.name.empty()) __builtin_trap();
    } catch (const KelException& e) {
        if (e.code() != 0x80090020u) __builtin_trap();
    }
    return 0;
}
