#include "protocol/TextEncoding.h"

#include <cstdint>

#include "reader/ErrorCodes.h"
#include "reader/KelException.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t kInvalid = 0xFF;
constexpr uint8_t kPad = 0xFE;

// Character -> 6-bit value; kPad for "=", kInvalid for everything else.
struct DecodeTable {
    uint8_t value[256];
    constexpr DecodeTable() : value() {
        for (int i = 0; i < 256; ++i) value[i] = kInvalid;
        for (int i = 0; i < 64; ++i)
            value[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
        value[static_cast<uint8_t>('=')] = kPad;
    }
};
constexpr DecodeTable kDecode;

// Two output characters per input byte: 4096 entries map a 12-bit group to
// its two characters at once.
struct PairTable {
    char pair[4096][2];
    constexpr PairTable() : pair() {
        for (int i = 0; i < 4096; ++i) {
            pair[i][0] = kAlphabet[i >> 6];
            pair[i][1] = kAlphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs;

// Unreserved bytes of a URL component.
struct UnreservedTable {
    bool keep[256];
    constexpr UnreservedTable() : keep() {
        for (int c = 0; c < 256; ++c)
            keep[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~';
    }
};
constexpr UnreservedTable kUnreserved;

}  // namespace

std::string EncodeBase64(const void* data, size_t size) {
    std::string out;
    if (data == nullptr || size == 0) return out;
    const unsigned char* in = static_cast<const unsigned char*>(data);
    out.resize((size + 2) / 3 * 4);
    char* o = &out[0];
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        const char* hi = kPairs.pair[v >> 12];
        const char* lo = kPairs.pair[v & 0xFFF];
        o[0] = hi[0];
        o[1] = hi[1];
        o[2] = lo[0];
        o[3] = lo[1];
        o += 4;
    }
    size_t rest = size - i;
    if (rest == 1) {
        uint32_t v = uint32_t(in[i]) << 16;
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = '=';
        o[3] = '=';
    } else if (rest == 2) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = '=';
    }
    return out;
}

int DecodeBase64Into(const std::string& text, unsigned char* out, size_t* count) {
    if (text.empty() || count == nullptr) return -1;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    const size_t capacity = out != nullptr ? *count : 0;
    size_t produced = 0;
    size_t i = 0;

    // Whole groups of four characters, none of them "=".
    for (; i + 4 <= n; i += 4) {
        uint8_t a = kDecode.value[in[i]], b = kDecode.value[in[i + 1]];
        uint8_t c = kDecode.value[in[i + 2]], d = kDecode.value[in[i + 3]];
        if ((a | b | c | d) & 0xC0) break;  // "=" or an invalid character: handled below
        if (out != nullptr) {
            if (capacity - produced < 3) break;  // finish byte by byte below
            uint32_t v = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | d;
            out[produced] = static_cast<unsigned char>(v >> 16);
            out[produced + 1] = static_cast<unsigned char>(v >> 8);
            out[produced + 2] = static_cast<unsigned char>(v);
        }
        produced += 3;
    }

    // The tail: up to the first "=" or the end, one character at a time.
    uint32_t acc = 0;
    int bits = 0;
    for (; i < n; ++i) {
        uint8_t v = kDecode.value[in[i]];
        if (v == kPad) break;
        if (v == kInvalid) return -1;
        acc = (acc << 6) | v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (out != nullptr) {
                if (produced >= capacity) return -2;
                out[produced] = static_cast<unsigned char>(acc >> bits);
            }
            ++produced;
            acc &= (1u << bits) - 1;
        }
    }
    *count = produced;
    return 0;
}

std::vector<unsigned char> DecodeBase64(const std::string& text) {
    if (text.empty()) throw KelException("Cannot decode empty Base64 value", codes::kFail);
    size_t count = 0;
    if (DecodeBase64Into(text, nullptr, &count) != 0)
        throw KelException("Cannot decode Base64 value", codes::kFail);
    std::vector<unsigned char> bytes(count);
    if (DecodeBase64Into(text, bytes.data(), &count) != 0)
        throw KelException("Cannot decode Base64 value", codes::kFail);
    bytes.resize(count);
    return bytes;
}

std::string PercentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t escaped = 0;
    for (unsigned char c : text) escaped += !kUnreserved.keep[c];
    std::string out;
    out.resize(text.size() + 2 * escaped);
    char* o = &out[0];
    for (unsigned char c : text) {
        if (kUnreserved.keep[c]) {
            *o++ = static_cast<char>(c);
        } else {
            o[0] = '%';
            o[1] = kHex[c >> 4];
            o[2] = kHex[c & 15];
            o += 3;
        }
    }
    return out;
}

std::map<std::string, std::string> ParseKeyValueText(const std::string& text) {
    std::map<std::string, std::string> pairs;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        size_t eq = text.find('=', start);
        if (eq != std::string::npos && eq < end)
            pairs[text.substr(start, eq - start)] = text.substr(eq + 1, end - eq - 1);
        start = end + 1;
    }
    return pairs;
}
