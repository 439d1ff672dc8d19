#pragma once
#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace localservice {

using Bytes = std::vector<uint8_t>;

// Standard Base64 with padding, no line breaks.
std::string base64Encode(const uint8_t* data, size_t size);
inline std::string base64Encode(const Bytes& b) {
    return base64Encode(b.data(), b.size());
}
inline std::string base64Encode(const std::string& s) {
    return base64Encode(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
// Strict standard alphabet; padding optional. False for anything else.
bool base64Decode(const std::string& text, Bytes& out);
// URL-safe alphabet ("-" and "_"), without padding on output, padding optional on input.
std::string base64UrlEncode(const uint8_t* data, size_t size);
inline std::string base64UrlEncode(const std::string& s) {
    return base64UrlEncode(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
bool base64UrlDecode(const std::string& text, Bytes& out);

std::string percentDecode(const std::string& text, bool plusIsSpace);
// "a=1&b=2" with percent-decoding of names and values ("+" is a blank).
std::map<std::string, std::string> parseForm(const std::string& body);
std::string htmlEscape(const std::string& text);

Bytes randomBytes(size_t n);
// A random identifier: prefix followed by URL-safe Base64 of n random bytes.
std::string randomId(const std::string& prefix, size_t n = 18);

Bytes sha1(const uint8_t* data, size_t size);
Bytes sha256(const uint8_t* data, size_t size);
inline Bytes sha256(const std::string& s) {
    return sha256(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
Bytes hmacSha256(const Bytes& key, const std::string& data);
bool constantTimeEqual(const Bytes& a, const Bytes& b);

// Compact JSON text.
std::string toJson(const Json::Value& v);
// Strict parse of a whole document; false on any error.
bool parseJson(const std::string& text, Json::Value& out);

bool parseUInt32(const std::string& text, uint32_t& out);
std::string toLower(std::string s);

}  // namespace localservice
