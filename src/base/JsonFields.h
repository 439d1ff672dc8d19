#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

// Parses a whole JSON body. Returns false for anything that is not JSON
// (including nesting deeper than the reader allows); never throws.
bool ParseJson(std::string_view body, Json::Value& root);
bool ParseJson(const char* begin, const char* end, Json::Value& root);

// The text of the string member `field` of the JSON body; empty otherwise.
std::string GetJsonStringField(std::string_view body, const std::string& field);

// The integral member `field` of the JSON body (an integer, an unsigned
// integer or a bool). False when the body is not JSON, lacks the member or the
// member is not integral; an integral member outside 0..2^32-1 throws the JSON
// library's conversion exception (Json::LogicError).
bool GetJsonUIntField(std::string_view body, const std::string& field, uint32_t& value);

// The same rule for the member `field` of a parsed value (false when it is no
// object).
bool GetJsonUIntMember(const Json::Value& root, const std::string& field, uint32_t& value);
