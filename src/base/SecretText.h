#pragma once
#include <json/value.h>

#include "base/SecretString.h"

// JSON values that hold secrets. The JSON library keeps strings in its own
// buffers, so these are wiped in place; what the library releases inside its
// parser and writer is beyond reach.

// Overwrites every string value of a JSON tree in place with zeros.
void WipeJsonStrings(Json::Value& value) noexcept;

// A JSON value that holds secrets (an answer with tokens, a request with the
// confirmation token): its string values are wiped when it goes.
class SecretJson : public Json::Value {
  public:
    using Json::Value::Value;
    using Json::Value::operator=;
    SecretJson() = default;
    SecretJson(const SecretJson&) = delete;
    SecretJson& operator=(const SecretJson&) = delete;
    ~SecretJson() { WipeJsonStrings(*this); }
};

// The compact JSON text (Json::FastWriter output) of a value that holds a
// secret. The writer's own copy of the text is overwritten before it goes.
SecretString WriteSecretJson(const Json::Value& value);

// The text of a JSON string value; empty for any other value.
SecretString JsonSecretText(const Json::Value& value);

// A JSON string value holding `text`.
Json::Value JsonStringOf(std::string_view text);
