#include "base/SecretText.h"

#include <json/writer.h>

#include <cstring>

#include "base/Wipe.h"

void AppendSecret(std::string& text, const char* piece, std::size_t length) {
    const std::size_t needed = text.size() + length;
    if (needed > text.capacity()) {
        std::string grown;
        grown.reserve(needed > 2 * text.capacity() ? needed : 2 * text.capacity());
        grown.append(text);
        WipeString(text);
        text.swap(grown);
    }
    text.append(piece, length);
}

void AppendSecret(std::string& text, const std::string& piece) {
    AppendSecret(text, piece.data(), piece.size());
}

void AppendSecret(std::string& text, const char* piece) {
    AppendSecret(text, piece, std::strlen(piece));
}

void WipeStrings(std::vector<std::string>& lines) noexcept {
    for (std::string& line : lines) WipeString(line);
    lines.clear();
}

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

std::string WriteSecretJson(const Json::Value& value) {
    Json::FastWriter writer;
    std::string text = writer.write(value);
    // The writer keeps the text it returned. Writing a string of blanks of the
    // same total length (two quotes and the line feed included) overwrites
    // that copy in place, without the buffer growing.
    if (text.size() >= 3) writer.write(Json::Value(std::string(text.size() - 3, ' ')));
    return text;
}
