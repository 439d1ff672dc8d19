#include "Codec.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <memory>
#include <sstream>
#include <stdexcept>

namespace localservice {

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decodeChar(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string base64Encode(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (size - i == 1) {
        uint32_t v = data[i] << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (size - i == 2) {
        uint32_t v = (data[i] << 16) | (data[i + 1] << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

bool base64Decode(const std::string& text, Bytes& out) {
    out.clear();
    size_t end = text.size();
    size_t pad = 0;
    while (end > 0 && text[end - 1] == '=' && pad < 2) {
        --end;
        ++pad;
    }
    if (pad > 0 && text.size() % 4 != 0) return false;
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < end; ++i) {
        int v = decodeChar(text[i]);
        if (v < 0) return false;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
        }
    }
    return end % 4 != 1;
}

std::string base64UrlEncode(const uint8_t* data, size_t size) {
    std::string s = base64Encode(data, size);
    while (!s.empty() && s.back() == '=') s.pop_back();
    for (char& c : s) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    return s;
}

bool base64UrlDecode(const std::string& text, Bytes& out) {
    std::string s = text;
    for (char& c : s) {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
        else if (c == '+' || c == '/')
            return false;
    }
    return base64Decode(s, out);
}

std::string percentDecode(const std::string& text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            int h = hexValue(text[i + 1]), l = hexValue(text[i + 2]);
            if (h >= 0 && l >= 0) {
                out += static_cast<char>(h * 16 + l);
                i += 2;
                continue;
            }
        }
        out += (plusIsSpace && c == '+') ? ' ' : c;
    }
    return out;
}

std::map<std::string, std::string> parseForm(const std::string& body) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t amp = body.find('&', pos);
        if (amp == std::string::npos) amp = body.size();
        std::string piece = body.substr(pos, amp - pos);
        size_t eq = piece.find('=');
        if (!piece.empty()) {
            if (eq == std::string::npos)
                out[percentDecode(piece, true)] = "";
            else
                out[percentDecode(piece.substr(0, eq), true)] =
                    percentDecode(piece.substr(eq + 1), true);
        }
        pos = amp + 1;
    }
    return out;
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

Bytes randomBytes(size_t n) {
    Bytes b(n);
    if (n > 0 && RAND_bytes(b.data(), static_cast<int>(n)) != 1)
        throw std::runtime_error("random generator failed");
    return b;
}

std::string randomId(const std::string& prefix, size_t n) {
    Bytes b = randomBytes(n);
    return prefix + base64UrlEncode(b.data(), b.size());
}

Bytes sha1(const uint8_t* data, size_t size) {
    Bytes out(20);
    unsigned int len = 0;
    EVP_Digest(data, size, out.data(), &len, EVP_sha1(), nullptr);
    return out;
}

Bytes sha256(const uint8_t* data, size_t size) {
    Bytes out(32);
    unsigned int len = 0;
    EVP_Digest(data, size, out.data(), &len, EVP_sha256(), nullptr);
    return out;
}

Bytes hmacSha256(const Bytes& key, const std::string& data) {
    Bytes out(32);
    unsigned int len = 32;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), out.data(), &len);
    out.resize(len);
    return out;
}

bool constantTimeEqual(const Bytes& a, const Bytes& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string toJson(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

bool parseJson(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder b;
    b["collectComments"] = false;
    b["failIfExtra"] = true;
    b["rejectDupKeys"] = false;
    std::unique_ptr<Json::CharReader> reader(b.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &out, &errors);
}

bool parseUInt32(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

std::string toLower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace localservice
