#include "protocol/TextEncoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/ErrorCodes.h"
#include "base/KelException.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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

// The 6-bit value of a character already shifted into place for each of the
// four positions of a group; kStop (above the 24 data bits) marks "=" and
// every character outside the alphabet, so one test covers a whole group.
constexpr uint32_t kStop = 0x01000000;
struct ShiftedTables {
    uint32_t at[4][256];
    constexpr ShiftedTables() : at() {
        for (int pos = 0; pos < 4; ++pos)
            for (int c = 0; c < 256; ++c) {
                uint8_t v = kDecode.value[c];
                at[pos][c] = v >= 64 ? kStop : uint32_t(v) << (18 - 6 * pos);
            }
    }
};
constexpr ShiftedTables kShifted;

inline uint32_t DecodeGroup(const unsigned char* p) {
    return kShifted.at[0][p[0]] | kShifted.at[1][p[1]] | kShifted.at[2][p[2]] |
           kShifted.at[3][p[3]];
}

// Writes v's four bytes most significant first.
inline void StoreBigEndian(unsigned char* o, uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(o, &v, 4);
}

// Number of leading characters that are all in the alphabet, counted in
// steps of 16 (the tail is left to the caller).
size_t AlphabetPrefix(const unsigned char* in, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    // Signed byte compares: bytes of 0x80 and above are negative and fall
    // outside every range. OR-ing 0x20 folds upper-case letters onto lower-case.
    const __m128i fold = _mm_set1_epi8(0x20);
    const __m128i beforeA = _mm_set1_epi8('a' - 1), afterZ = _mm_set1_epi8('z' + 1);
    const __m128i before0 = _mm_set1_epi8('0' - 1), after9 = _mm_set1_epi8('9' + 1);
    const __m128i plus = _mm_set1_epi8('+'), slash = _mm_set1_epi8('/');
    for (; i + 16 <= n; i += 16) {
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        __m128i f = _mm_or_si128(c, fold);
        __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(f, beforeA), _mm_cmplt_epi8(f, afterZ));
        __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, before0), _mm_cmplt_epi8(c, after9));
        __m128i sign = _mm_or_si128(_mm_cmpeq_epi8(c, plus), _mm_cmpeq_epi8(c, slash));
        __m128i ok = _mm_or_si128(_mm_or_si128(letter, digit), sign);
        if (_mm_movemask_epi8(ok) != 0xFFFF) break;
    }
#else
    for (; i + 16 <= n; i += 16) {
        uint32_t stop = 0;
        for (int k = 0; k < 16; ++k) stop |= kShifted.at[3][in[i + k]];
        if (stop & kStop) break;
    }
#endif
    return i;
}

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

namespace {

template <class Text>
Text EncodeBase64As(const void* data, size_t size) {
    Text out;
    if (data == nullptr || size == 0) return out;
    out.resize(Base64Length(size));
    EncodeBase64To(data, size, &out[0]);
    return out;
}

}  // namespace

size_t Base64Length(size_t size) {
    // Four characters per started group of three bytes, checked before
    // anything is written: on a 32-bit target the length of the text for an
    // input past 3 GiB does not fit in a size_t and would wrap.
    const size_t groups = size / 3 + (size % 3 != 0);
    if (groups > std::string().max_size() / 4)
        throw KelException("Data too large for Base64", codes::kNoMemory);
    return groups * 4;
}

size_t EncodeBase64To(const void* data, size_t size, char* out) {
    if (data == nullptr || size == 0) return 0;
    const unsigned char* in = static_cast<const unsigned char*>(data);
    char* o = out;
    size_t i = 0;
    // Two groups per step from one 8-byte load.
    for (; i + 8 <= size; i += 6) {
        uint64_t w;
        std::memcpy(&w, in + i, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        w = __builtin_bswap64(w);
#endif
        const uint32_t a = uint32_t(w >> 40), b = uint32_t(w >> 16) & 0xFFFFFF;
        std::memcpy(o, kPairs.pair[a >> 12], 2);
        std::memcpy(o + 2, kPairs.pair[a & 0xFFF], 2);
        std::memcpy(o + 4, kPairs.pair[b >> 12], 2);
        std::memcpy(o + 6, kPairs.pair[b & 0xFFF], 2);
        o += 8;
    }
    for (; i + 3 <= size; i += 3) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(o, kPairs.pair[v >> 12], 2);
        std::memcpy(o + 2, kPairs.pair[v & 0xFFF], 2);
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
    return size_t(o - out) + (rest != 0 ? 4 : 0);
}

size_t PercentEncodedLength(size_t size, size_t escaped) {
    // Three characters per escaped byte; checked so that it cannot wrap on a
    // 32-bit target.
    const size_t limit = std::string().max_size();
    if (escaped > size || size > limit || escaped > (limit - size) / 2)
        throw KelException("Text too large for percent-encoding", codes::kNoMemory);
    return size + 2 * escaped;
}

namespace {

template <class Text>
Text PercentEncodeAs(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t escaped = 0;
    for (unsigned char c : text) escaped += !kUnreserved.keep[c];
    Text out;
    out.resize(PercentEncodedLength(text.size(), escaped));
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

template <class Bytes>
Bytes DecodeBase64As(std::string_view text) {
    if (text.empty()) throw KelException("Cannot decode empty Base64 value", codes::kFail);
    size_t count = 0;
    if (DecodeBase64Into(text, nullptr, &count) != 0)
        throw KelException("Cannot decode Base64 value", codes::kFail);
    Bytes bytes(count, 0);
    if (DecodeBase64Into(text, reinterpret_cast<unsigned char*>(bytes.data()), &count) != 0)
        throw KelException("Cannot decode Base64 value", codes::kFail);
    bytes.resize(count);
    return bytes;
}

}  // namespace

std::string EncodeBase64(const void* data, size_t size) {
    return EncodeBase64As<std::string>(data, size);
}

SecretString EncodeBase64Secret(const void* data, size_t size) {
    return EncodeBase64As<SecretString>(data, size);
}

int DecodeBase64Into(std::string_view text, unsigned char* out, size_t* count) {
    if (text.empty() || count == nullptr) return -1;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    const size_t capacity = out != nullptr ? *count : 0;
    size_t produced = 0;
    size_t i = 0;

    if (out == nullptr) {
        // Counting only: skip over clean blocks, then finish one by one.
        i = AlphabetPrefix(in, n);
        produced = i / 4 * 3;
    } else {
        // Whole groups that fit: one 4-byte store each while the next group
        // is good and will overwrite the spare byte; the last good group is
        // stored as three bytes, so nothing past the output is touched.
        size_t groups = std::min(n / 4, capacity / 3);
        unsigned char* o = out;
        uint32_t v = groups != 0 ? DecodeGroup(in) : kStop;
        for (size_t g = 0; g < groups && !(v & kStop); ++g, i += 4, o += 3) {
            uint32_t next = g + 1 < groups ? DecodeGroup(in + i + 4) : kStop;
            if (next & kStop) {
                o[0] = static_cast<unsigned char>(v >> 16);
                o[1] = static_cast<unsigned char>(v >> 8);
                o[2] = static_cast<unsigned char>(v);
            } else {
                StoreBigEndian(o, v << 8);
            }
            v = next;
        }
        produced = size_t(o - out);
    }

    // The rest up to the first "=" or the end, one character at a time.
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
    return DecodeBase64As<std::vector<unsigned char>>(text);
}

SecretString DecodeBase64Secret(std::string_view text) {
    return DecodeBase64As<SecretString>(text);
}

std::string PercentEncode(const std::string& text) {
    return PercentEncodeAs<std::string>(text);
}

SecretString PercentEncodeSecret(std::string_view text) {
    return PercentEncodeAs<SecretString>(text);
}

std::map<std::string, SecretString> ParseKeyValueText(std::string_view text) {
    std::map<std::string, SecretString> pairs;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string_view::npos) end = text.size();
        size_t eq = text.find('=', start);
        if (eq != std::string_view::npos && eq < end)
            pairs[std::string(text.substr(start, eq - start))] = text.substr(eq + 1, end - eq - 1);
        start = end + 1;
    }
    return pairs;
}
