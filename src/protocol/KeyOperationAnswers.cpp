#include "protocol/KeyOperationAnswers.h"

#include <cstring>

#include "base/ErrorCodes.h"
#include "base/JsonFields.h"
#include "base/KelException.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/TextEncoding.h"

namespace {

const Json::Value* Member(const Json::Value& v, const char* name) {
    return v.isObject() ? v.find(name, name + std::strlen(name)) : nullptr;
}

// An integer (not a bool, not a real) that fits an unsigned 32-bit count.
bool IsCount(const Json::Value* v) {
    return v && (v->type() == Json::intValue || v->type() == Json::uintValue) && v->isUInt();
}

}  // namespace

CertificateRecord RequireCertificateRecord(const Json::Value& value, const char* message,
                                           uint32_t code) {
    CertificateRecord record;
    if (!DecodeCertificateRecord(value, record)) throw KelException(message, code);
    return record;
}

CertificateRecord DecodeCertificateAnswer(const std::string& body, const char* notJsonMessage,
                                          const char* wrongMessage, uint32_t wrongCode) {
    Json::Value root;
    if (!ParseJson(body, root)) throw KelException(notJsonMessage, codes::kFail);
    return RequireCertificateRecord(root, wrongMessage, wrongCode);
}

bool IsEmptyResult(const Json::Value& result) {
    if (result.isNull()) return true;
    return (result.isArray() || result.isObject()) && result.empty();
}

std::string DecodeKeyParameterAnswer(const std::string& body) {
    Json::Value root;
    if (!ParseJson(body, root) || root.isArray() || root.isObject())
        throw KelException("Cannot decode server response. KeyParameter request failed.",
                           codes::kFail);
    return root.asString();
}

uint32_t KeyParameterNumber(const std::string& text) {
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    return static_cast<uint32_t>(value);
}

std::vector<unsigned char> KeyParameterBytes(const std::string& text) {
    size_t count = 0;
    if (DecodeBase64Into(text, nullptr, &count) != 0) return {};
    std::vector<unsigned char> bytes(count);
    if (DecodeBase64Into(text, bytes.data(), &count) != 0) return {};
    bytes.resize(count);
    return bytes;
}

bool DecodePinValidationAnswer(const std::string& body, uint32_t* attemptsLeft) {
    Json::Value root;
    if (!ParseJson(body, root))
        throw KelException(
            "Cannot decode server response for the PIN verification. The response is not a JSON.",
            codes::kFail);
    if (root.isBool()) {
        const bool valid = root.asBool();
        if (attemptsLeft) {
            if (valid)
                *attemptsLeft = kPinAttemptsAfterValidPin;
            else if (*attemptsLeft > 0)
                --*attemptsLeft;
        }
        return valid;
    }
    const Json::Value* isValid = Member(root, "IsValid");
    const Json::Value* remaining = Member(root, "Remaining");
    const Json::Value* description = Member(root, "ErrorDescription");
    if (!isValid || !isValid->isBool() || !IsCount(remaining) || !description ||
        (!isValid->asBool() && !description->isString()))
        throw KelException(
            "Cannot decode server response for the PIN verification. Wrong JSON fields.",
            codes::kFail);
    const bool valid = isValid->asBool();
    if (!valid) {
        const std::string text = description->asString();
        if (text != "key_blocked" && text != "invalid_pin")
            throw KelException("PIN verification error:" + text, codes::kFail);
    }
    if (attemptsLeft) *attemptsLeft = remaining->asUInt();
    return valid;
}
