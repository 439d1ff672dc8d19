#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/SecretString.h"

// Base64 (RFC 4648 alphabet with "=" padding, no line breaks) of size bytes at
// data. A null pointer or a size of 0 gives the empty string. Throws
// KelException (0x8009000E) when the text would be longer than a string can be.
std::string EncodeBase64(const void* data, size_t size);
// The same for bytes that are a secret (credentials).
SecretString EncodeBase64Secret(const void* data, size_t size);

// The length of the Base64 text of size bytes; throws KelException "Data too
// large for Base64" (0x8009000E) when it does not fit in a size_t (an input
// past 3 GiB on a 32-bit target).
size_t Base64Length(size_t size);

// Writes the Base64 text of size bytes at data to out, which must have room
// for Base64Length(size) characters (nothing else is written, no NUL);
// returns that length. A null pointer or a size of 0 writes nothing.
size_t EncodeBase64To(const void* data, size_t size, char* out);

// Decodes Base64 text up to the first "=" or its end. out may be null (then
// the bytes are only counted); *count is the capacity of out on entry and the
// number of bytes produced on success. Returns 0 on success, -1 for bad input
// (empty text, null count, a character outside the alphabet), -2 when out is
// too small (the bytes that fit are written).
int DecodeBase64Into(std::string_view text, unsigned char* out, size_t* count);

// Decodes Base64 text; throws KelException (0x80090020) for empty or bad text.
std::vector<unsigned char> DecodeBase64(const std::string& text);
// The same for bytes that are a secret (a token's payload).
SecretString DecodeBase64Secret(std::string_view text);

// Copies ASCII letters, digits and "-._~"; every other byte becomes "%XX"
// with upper-case hexadecimal digits. Throws KelException (0x8009000E) when
// the text would be longer than a string can be.
std::string PercentEncode(const std::string& text);
// The length of the percent-encoding of size bytes of which escaped are
// escaped; throws KelException "Text too large for percent-encoding"
// (0x8009000E) when it does not fit in a string.
size_t PercentEncodedLength(size_t size, size_t escaped);
// The same for a secret (login, password).
SecretString PercentEncodeSecret(std::string_view text);

// Splits "k1=v1&k2=v2..." into a map: pieces without "=" are skipped, the
// first "=" separates key and value, later keys replace earlier ones, values
// are not percent-decoded. Values are tokens: they are kept as secrets.
std::map<std::string, SecretString> ParseKeyValueText(std::string_view text);
