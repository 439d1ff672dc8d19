#pragma once
#include <json/value.h>

#include <cstdint>
#include <string_view>

// Decodes a service result that is a JSON string of Base64 into out (null:
// only the length is wanted); *length is the capacity of out on entry and
// the decoded length on success. False when the value is not a string
// (notString is set), or when its text is not Base64 or does not fit out
// (notString is cleared); nothing is then written, *length included. The
// text is decoded where it lies (results may be keys: no copy is left).
bool DecodeBase64Result(const Json::Value& value, unsigned char* out, uint32_t* length,
                        bool& notString);

// How an answer that should be a JSON string of Base64 failed.
enum class Base64AnswerFault { kNone, kNotJson, kNotString, kNotBase64 };

// The same for a whole answer body, parsed as ParseJson does. An answer that
// is plainly a quoted run of Base64 characters (the usual signature answer)
// is decoded without building a JSON tree; the result is the same.
Base64AnswerFault DecodeBase64Answer(std::string_view answer, unsigned char* out, uint32_t* length);
