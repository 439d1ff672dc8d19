#include "MessageSignature.h"

#include <strings.h>

#include <map>
#include <sstream>

#include "Codec.h"

namespace localservice {

namespace {

// Parses name="value" pairs separated by commas and blanks.
bool parseParams(const std::string& text, std::map<std::string, std::string>& out) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ',')) ++i;
        if (i >= text.size()) break;
        size_t eq = text.find('=', i);
        if (eq == std::string::npos || eq + 1 >= text.size() || text[eq + 1] != '"') return false;
        size_t close = text.find('"', eq + 2);
        if (close == std::string::npos) return false;
        out[text.substr(i, eq - i)] = text.substr(eq + 2, close - eq - 2);
        i = close + 1;
    }
    return true;
}

}  // namespace

bool verifyMessageSignature(const HttpRequest& req, std::string& reason) {
    std::map<std::string, std::string> params;
    if (!parseParams(req.header("VL-Signature"), params) || !params.count("headers") ||
        !params.count("key") || !params.count("signature")) {
        reason = "The message signature header is malformed";
        return false;
    }
    std::istringstream names(params["headers"]);
    std::string name;
    if (!(names >> name) || name != "(request-target)") {
        reason = "The signed header list does not start with (request-target)";
        return false;
    }
    std::string signingString = "(request-target): post " + req.target;
    std::map<std::string, size_t> used;
    while (names >> name) {
        std::vector<std::string> values = req.headerValues(name);
        size_t& n = used[toLower(name)];
        if (n >= values.size() || toLower(name) == "vl-signature") {
            reason = "A signed header is missing: " + name;
            return false;
        }
        signingString += "\n" + toLower(name) + ": " + values[n++];
    }
    Bytes key, mac;
    if (!base64Decode(params["key"], key) || key.empty() ||
        !base64Decode(params["signature"], mac)) {
        reason = "The message signature key or value is not Base64";
        return false;
    }
    if (!req.bodyFile.empty()) {
        reason = "Streamed bodies cannot be signed";
        return false;
    }
    if (!constantTimeEqual(mac, hmacSha256(key, signingString + req.body))) {
        reason = "The message signature does not verify";
        return false;
    }
    return true;
}

}  // namespace localservice
