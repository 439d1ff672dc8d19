// Conversions between UTF-8 text and wide (UTF-32) text with the conventions
// of the Windows conversion functions.
#include <string.h>
#include <wchar.h>

#include "capi/wintypes.h"

namespace {

constexpr DWORD kErrInvalidChars = 0x00000008;  // MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS

bool IsUtf8CodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_UTF8;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// Decodes one UTF-8 sequence at text[*pos] (strictly: no overlong forms, no
// surrogates, nothing above U+10FFFF). Returns false on invalid input.
bool DecodeOne(const unsigned char* text, size_t size, size_t* pos, uint32_t* code) {
    unsigned char lead = text[*pos];
    if (lead < 0x80) {
        *code = lead;
        ++*pos;
        return true;
    }
    size_t extra;
    uint32_t value;
    uint32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return false;
    }
    if (size - *pos <= extra) return false;
    for (size_t i = 1; i <= extra; ++i) {
        unsigned char next = text[*pos + i];
        if ((next & 0xC0) != 0x80) return false;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *code = value;
    *pos += extra + 1;
    return true;
}

bool IsScalar(wchar_t c) {
    uint32_t value = static_cast<uint32_t>(c);
    return value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
}

size_t Utf8Length(uint32_t value) {
    return value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
}

void EncodeOne(uint32_t value, char* out) {
    size_t length = Utf8Length(value);
    if (length == 1) {
        out[0] = static_cast<char>(value);
        return;
    }
    static const unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t i = length - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (value & 0x3F));
        value >>= 6;
    }
    out[0] = static_cast<char>(kLead[length] | value);
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength,
                                   LPWSTR dest, int destLength) {
    if (!IsUtf8CodePage(codePage)) return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~kErrInvalidChars) != 0) return Fail(ERROR_INVALID_FLAGS);
    if (!source || sourceLength == 0 || sourceLength < -1 || destLength < 0 ||
        (!dest && destLength != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t size = sourceLength == -1 ? strlen(source) + 1 : static_cast<size_t>(sourceLength);
    const unsigned char* text = reinterpret_cast<const unsigned char*>(source);

    size_t needed = 0;
    for (size_t pos = 0; pos < size; ++needed) {
        uint32_t code;
        if (!DecodeOne(text, size, &pos, &code)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (needed > 0x7FFFFFFF) return Fail(ERROR_INVALID_PARAMETER);
    if (destLength == 0) return static_cast<int>(needed);
    if (needed > static_cast<size_t>(destLength)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    size_t out = 0;
    for (size_t pos = 0; pos < size;) {
        uint32_t code = 0;
        DecodeOne(text, size, &pos, &code);
        dest[out++] = static_cast<wchar_t>(code);
    }
    return static_cast<int>(needed);
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength,
                                   LPSTR dest, int destLength, LPCSTR defaultChar,
                                   LPBOOL usedDefaultChar) {
    if (!IsUtf8CodePage(codePage)) return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~kErrInvalidChars) != 0) return Fail(ERROR_INVALID_FLAGS);
    // UTF-8 has no default character: both must be null, as on Windows.
    if (defaultChar || usedDefaultChar) return Fail(ERROR_INVALID_PARAMETER);
    if (!source || sourceLength == 0 || sourceLength < -1 || destLength < 0 ||
        (!dest && destLength != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t size = sourceLength == -1 ? wcslen(source) + 1 : static_cast<size_t>(sourceLength);

    size_t needed = 0;
    for (size_t i = 0; i < size; ++i) {
        if (!IsScalar(source[i])) return Fail(ERROR_NO_UNICODE_TRANSLATION);
        needed += Utf8Length(static_cast<uint32_t>(source[i]));
        if (needed > 0x7FFFFFFF) return Fail(ERROR_INVALID_PARAMETER);
    }
    if (destLength == 0) return static_cast<int>(needed);
    if (needed > static_cast<size_t>(destLength)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    size_t out = 0;
    for (size_t i = 0; i < size; ++i) {
        uint32_t value = static_cast<uint32_t>(source[i]);
        EncodeOne(value, dest + out);
        out += Utf8Length(value);
    }
    return static_cast<int>(needed);
}
