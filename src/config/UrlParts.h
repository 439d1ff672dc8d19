#pragma once
#include <string>

// The parts of a service URL as the module uses them.
//   scheme   - the text up to and including "://"
//   host     - from after "://" up to the first ':' or '/'
//   port     - the number after the colon, else 443 for "https://" and 80 otherwise
//   portText - the colon and digits as written, or empty
//   base     - scheme + host + portText
//   path     - from the first '/' after the host to the end (query included)
//   parsed   - false when the URL lacks "://", a host end or a path
struct UrlParts {
    std::string scheme, host;
    long port = 0;
    std::string portText, base, path;
    bool parsed = false;
};

// Splits a URL. A URL needs a path: "https://host" does not parse, "https://host/" does.
// On failure every field keeps its default and parsed is false.
UrlParts SplitUrl(const std::string& url);
