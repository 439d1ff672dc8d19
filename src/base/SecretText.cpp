#include "base/SecretText.h"

#include <json/writer.h>

#include "base/Wipe.h"

void WipeJsonStrings(Json::Value& value) noexcept {
    try {
        if (value.isString()) {
            const char* begin = nullptr;
            const char* end = nullptr;
            if (value.getString(&begin, &end) && begin && end > begin)
                WipeBytes(const_cast<char*>(begin), static_cast<std::size_t>(end - begin));
        } else if (value.isArray() || value.isObject()) {
            for (Json::Value& member : value) WipeJsonStrings(member);
        }
    } catch (...) {
    }
}

SecretString WriteSecretJson(const Json::Value& value) {
    Json::FastWriter writer;
    // The writer's interface is std::string: its result is copied and wiped.
    std::string text = writer.write(value);
    WipeOnExit wipeText(text);
    // The writer keeps the text it returned. Writing a string of blanks of the
    // same total length (two quotes and the line feed included) overwrites
    // that copy in place, without the buffer growing.
    if (text.size() >= 3) writer.write(Json::Value(std::string(text.size() - 3, ' ')));
    return SecretString(text);
}

SecretString JsonSecretText(const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value.isString() || !value.getString(&begin, &end) || !begin) return SecretString();
    return SecretString(begin, static_cast<std::size_t>(end - begin));
}

Json::Value JsonStringOf(std::string_view text) {
    return Json::Value(text.data(), text.data() + text.size());
}
