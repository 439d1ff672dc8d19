#pragma once
#include <json/value.h>

#include <cstddef>
#include <string>
#include <vector>

// Appends to a string that holds, or is about to hold, a secret. When the
// string has to grow, its old buffer is wiped before it is released, so no
// partial copy is left behind.
void AppendSecret(std::string& text, const char* piece, std::size_t length);
void AppendSecret(std::string& text, const std::string& piece);
void AppendSecret(std::string& text, const char* piece);

// Wipes a list of strings (header lines that carry a token) and empties it.
void WipeStrings(std::vector<std::string>& lines) noexcept;

// The compact JSON text of a value that holds a secret (Json::FastWriter
// output). The writer's own copy of the text is overwritten before the writer
// goes; the caller wipes the result.
std::string WriteSecretJson(const Json::Value& value);

// Overwrites every string value of a JSON tree in place with zeros, so that
// a parsed answer that carried tokens leaves none behind when it is released.
void WipeJsonStrings(Json::Value& value) noexcept;
