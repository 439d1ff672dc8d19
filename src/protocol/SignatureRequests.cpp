#include "protocol/SignatureRequests.h"

#include <json/writer.h>

#include <cstring>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "base/SecretText.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/TextEncoding.h"

const char kSignedDocumentName[] = "Необходимо подтверждение операции";

namespace {

// The member `name` of an object; null when absent or when v is no object.
const Json::Value* Member(const Json::Value& v, const char* name) {
    return v.isObject() ? v.find(name, name + std::strlen(name)) : nullptr;
}

// Fills "Signature" of a version 2 request in place, inside the secret
// tree, so that no other JSON value ever holds the PIN.
void FillSignatureObject(Json::Value& signature, uint32_t id, const Json::Value& parameters,
                         std::string_view pin) {
    signature = Json::Value(Json::objectValue);
    if (!pin.empty()) signature["PinCode"] = JsonStringOf(pin);
    signature["Type"] = 1;
    signature["Parameters"] = parameters;
    signature["CertificateId"] = Json::UInt(id);
}

}  // namespace

SecretString MakeSignRequestV1(uint32_t id, const unsigned char* data, size_t size,
                               uint32_t hashAlgId, std::string_view pin, bool isDocument) {
    // The text Json::FastWriter makes of the object: members in name order
    // ("Content", "Name", "Signature"; "CertificateId", "Parameters",
    // "PinCode", "Type"), no blanks, a line feed at the end. Strings that may
    // need escaping go through the writer itself.
    static const std::string name = Json::valueToQuotedString(kSignedDocumentName);
    SecretString tail, quotedPin;
    bool plain = true;  // nothing the writer would escape
    for (char c : pin)
        plain = plain && static_cast<unsigned char>(c) >= 0x20 &&
                static_cast<unsigned char>(c) < 0x80 && c != '"' && c != '\\';
    if (plain) {  // the empty PIN too; it is left out below
        quotedPin.reserve(pin.size() + 2);
        quotedPin += '"';
        quotedPin += pin;
        quotedPin += '"';
    } else {
        const SecretJson text(pin.data(), pin.data() + pin.size());
        quotedPin = WriteSecretJson(text);
        quotedPin.pop_back();  // the writer's line feed
    }
    const std::string parameters =
        !isDocument
            ? (hashAlgId != 0
                   ? "{\"Hash\":\"True\",\"HashAlgorithm\":" + std::to_string(hashAlgId) + "}"
                   : "{\"Hash\":\"True\"}")
            : (hashAlgId != 0 ? "{\"HashAlgorithm\":" + std::to_string(hashAlgId) + "}" : "null");
    // One buffer (76 characters of names and marks, at most 10 digits): a
    // growing string would leave a copy of the PIN behind.
    tail.reserve(96 + name.size() + parameters.size() + quotedPin.size());
    tail += "\",\"Name\":";
    tail += name;
    tail += ",\"Signature\":{\"CertificateId\":";
    tail += std::to_string(id);
    tail += ",\"Parameters\":";
    tail += parameters;
    if (!pin.empty()) {
        tail += ",\"PinCode\":";
        tail += quotedPin;
    }
    tail += ",\"Type\":1}}\n";

    // The Base64 is written straight into the body.
    static const char kHead[] = "{\"Content\":\"";
    const size_t head = sizeof(kHead) - 1;
    const size_t encoded = data != nullptr && size != 0 ? Base64Length(size) : 0;
    SecretString body;
    body.resize(head + encoded + tail.size());
    char* out = &body[0];
    std::memcpy(out, kHead, head);
    EncodeBase64To(data, size, out + head);
    std::memcpy(out + head + encoded, tail.data(), tail.size());
    return body;
}

SecretString MakeConfirmedSignRequestV1(std::string_view pin) {
    SecretJson request(Json::objectValue);
    if (pin.empty())
        request["Signature"] = Json::Value(Json::nullValue);
    else
        request["Signature"]["PinCode"] = JsonStringOf(pin);
    return WriteSecretJson(request);
}

SecretString MakeSignRequestV2(uint32_t id, uint32_t hashAlgId, std::string_view pin,
                               const std::string& dataId, const std::string& displayId) {
    Json::Value parameters(Json::objectValue);
    parameters["Hash"] = "True";
    if (hashAlgId != 0) parameters["HashAlgorithm"] = Json::UInt(hashAlgId);
    SecretJson request(Json::objectValue);
    FillSignatureObject(request["Signature"], id, parameters, pin);
    Json::Value document(Json::objectValue);
    document["RefId"] = dataId;
    if (!displayId.empty()) document["RelatedRefId"] = displayId;
    request["BinaryData"].append(document);
    return WriteSecretJson(request);
}

std::string DecodeSignatureDocumentId(const KelUrlRetriever& transport, const Json::Value& result) {
    static const char kOperation[] = "SignDocumentV2";
    const Json::Value* documents = Member(result, "ProcessedDocuments");
    if (documents && documents->isArray() && !documents->empty() && (*documents)[0].isObject()) {
        const Json::Value& first = (*documents)[0];
        if (IsErrorResponse(first)) ThrowServiceError(transport, first, kOperation);
        const Json::Value* ref = Member(first, "RefId");
        if (ref && ref->isString()) return ref->asString();
    }
    throw KelException(std::string("Cannot decode server response. The ") + kOperation +
                           " response is a wrong JSON.",
                       codes::kFail);
}
