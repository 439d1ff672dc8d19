#include "base/JsonFields.h"

#include <json/reader.h>

bool ParseJson(const char* begin, const char* end, Json::Value& root) {
    // The library's classic reader (comments allowed, any root, text after the
    // value ignored), parsing the caller's buffer in place. A reader per call:
    // it keeps state while parsing.
    Json::Reader reader;
    try {
        return reader.parse(begin, end, root, false);
    } catch (const Json::Exception&) {
        // Nesting beyond the reader's stack limit.
        return false;
    }
}

bool ParseJson(std::string_view body, Json::Value& root) {
    return ParseJson(body.data(), body.data() + body.size(), root);
}

std::string GetJsonStringField(std::string_view body, const std::string& field) {
    Json::Value root;
    if (!ParseJson(body, root) || !root.isObject()) return std::string();
    const Json::Value* m = root.find(field.data(), field.data() + field.size());
    if (!m || !m->isString()) return std::string();
    return m->asString();
}

bool GetJsonUIntField(std::string_view body, const std::string& field, uint32_t& value) {
    Json::Value root;
    return ParseJson(body, root) && GetJsonUIntMember(root, field, value);
}

bool GetJsonUIntMember(const Json::Value& root, const std::string& field, uint32_t& value) {
    if (!root.isObject()) return false;
    const Json::Value* m = root.find(field.data(), field.data() + field.size());
    if (!m) return false;
    const Json::ValueType type = m->type();
    if (type != Json::intValue && type != Json::uintValue && type != Json::booleanValue)
        return false;
    // A negative value or one wider than 32 bits is integral but has no
    // unsigned 32-bit value: the library's conversion exception passes on.
    value = m->asUInt();
    return true;
}
