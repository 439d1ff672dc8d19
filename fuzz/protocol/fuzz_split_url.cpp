#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/KelException.h"
#include "protocol/ServiceUrls.h"

// The URL split and the base URL derived from it must agree with each other
// for any text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string url(reinterpret_cast<const char*>(data), size);
    UrlParts parts = SplitUrl(url);
    if (parts.parsed) {
        if (parts.path.empty() || parts.path[0] != '/') std::abort();
        if (parts.base != parts.scheme + parts.host + parts.portText) std::abort();
        if (url.compare(0, parts.base.size(), parts.base) != 0) std::abort();
        if (parts.base + parts.path != url) std::abort();
    }
    try {
        BaseUrl base = DeriveBaseUrl(url, "bad");
        if (!parts.parsed) std::abort();
        if (base.segment.find('/') != std::string::npos) std::abort();
        if (base.base != parts.base + "/" + base.segment) std::abort();
    } catch (const KelException&) {
        if (parts.parsed) std::abort();
    }
    return 0;
}
