// Service URLs arrive from the network (the discovery document) and from
// configuration tools: splitting them, validating settings built from them and
// deriving a settings name must hold their invariants for any text.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/KelException.h"
#include "config/ContainerNaming.h"
#include "config/ServerSettings.h"
#include "config/UrlParts.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const UrlParts parts = SplitUrl(url);
    if (parts.parsed) {
        Check(parts.scheme.size() >= 3 &&
              parts.scheme.compare(parts.scheme.size() - 3, 3, "://") == 0);
        Check(parts.host.find_first_of(":/") == std::string::npos);
        Check(!parts.path.empty() && parts.path[0] == '/');
        Check(parts.portText.empty() || parts.portText[0] == ':');
        Check(parts.portText.find('/') == std::string::npos);
        Check(parts.base == parts.scheme + parts.host + parts.portText);
        Check(parts.base + parts.path == url);
        if (parts.portText.empty()) Check(parts.port == (parts.scheme == "https://" ? 443 : 80));
    } else {
        Check(parts.scheme.empty() && parts.host.empty() && parts.path.empty() && parts.port == 0);
    }

    ServerSettings settings;
    settings.name = "fuzz";
    settings.authUrl = url;
    settings.restUrl = url;
    Check(IsValidServerSettings(settings) == parts.parsed);

    try {
        const std::string id = MakeServiceId(url);
        Check(parts.parsed);
        Check(id.size() <= 40);
        for (unsigned char c : id) Check(std::isalnum(c) || c == '_');
    } catch (const KelException& e) {
        Check(!parts.parsed);
        Check(e.code() == 0x80090020u);
    }
    return 0;
}
