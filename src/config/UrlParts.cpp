#include "config/UrlParts.h"

#include <cstdlib>

UrlParts SplitUrl(const std::string& url) {
    UrlParts parts;
    const size_t separator = url.find("://");
    if (separator == std::string::npos) return parts;
    const size_t hostStart = separator + 3;
    const size_t hostEnd = url.find_first_of(":/", hostStart);
    if (hostEnd == std::string::npos) return parts;
    const size_t pathStart = url.find('/', hostEnd);
    if (pathStart == std::string::npos) return parts;

    parts.scheme = url.substr(0, hostStart);
    parts.host = url.substr(hostStart, hostEnd - hostStart);
    parts.portText = url.substr(hostEnd, pathStart - hostEnd);
    if (!parts.portText.empty())
        parts.port = std::strtol(parts.portText.c_str() + 1, nullptr, 10);
    else
        parts.port = parts.scheme == "https://" ? 443 : 80;
    parts.base = parts.scheme + parts.host + parts.portText;
    parts.path = url.substr(pathStart);
    parts.parsed = true;
    return parts;
}
