#include "protocol/Base64Result.h"

#include <cstdint>
#include <string_view>

#include "base/JsonFields.h"
#include "base/SecretText.h"
#include "protocol/TextEncoding.h"

namespace {

bool DecodeText(std::string_view text, unsigned char* out, uint32_t* length) {
    // Counted first, so that a result that does not fit is refused with
    // nothing written; a buffer without a capacity holds nothing.
    size_t count = 0;
    if (DecodeBase64Into(text, nullptr, &count) != 0 || (static_cast<uint64_t>(count) >> 32) != 0)
        return false;
    if (out) {
        if (!length || count > *length) return false;
        if (count != 0 && DecodeBase64Into(text, out, &count) != 0) return false;
    }
    if (length) *length = static_cast<uint32_t>(count);
    return true;
}

bool IsBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

}  // namespace

bool DecodeBase64Result(const Json::Value& value, unsigned char* out, uint32_t* length,
                        bool& notString) {
    const char* begin = nullptr;
    const char* end = nullptr;
    notString = !value.isString() || !value.getString(&begin, &end);
    if (notString) return false;
    return DecodeText(std::string_view(begin, size_t(end - begin)), out, length);
}

Base64AnswerFault DecodeBase64Answer(std::string_view answer, unsigned char* out,
                                     uint32_t* length) {
    // Blanks the JSON reader skips, a quote, Base64 characters, a quote: a
    // string without escapes, whatever follows it (the reader ignores text
    // after the value).
    size_t begin = answer.find_first_not_of(" \t\r\n");
    if (begin != std::string_view::npos && answer[begin] == '"') {
        size_t end = begin + 1;
        while (end < answer.size() && IsBase64Character(answer[end])) ++end;
        if (end < answer.size() && answer[end] == '"')
            return DecodeText(answer.substr(begin + 1, end - begin - 1), out, length)
                       ? Base64AnswerFault::kNone
                       : Base64AnswerFault::kNotBase64;
    }
    SecretJson root;
    if (!ParseJson(answer, root)) return Base64AnswerFault::kNotJson;
    bool notString = false;
    if (DecodeBase64Result(root, out, length, notString)) return Base64AnswerFault::kNone;
    return notString ? Base64AnswerFault::kNotString : Base64AnswerFault::kNotBase64;
}
