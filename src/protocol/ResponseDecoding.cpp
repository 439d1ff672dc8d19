#include "protocol/ResponseDecoding.h"

#include <capi/wintypes.h>
#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

namespace {

const char kDecodePrefix[] = "Cannot decode server response. The ";

// An integer, an unsigned integer or a bool.
bool IsIntegral(const Json::Value& v) {
    return v.type() == Json::intValue || v.type() == Json::uintValue ||
           v.type() == Json::booleanValue;
}

// The member `name` of an object; null when absent or when v is no object.
const Json::Value* Member(const Json::Value& v, const char* name) {
    if (!v.isObject()) return nullptr;
    return v.find(name, name + std::strlen(name));
}

bool HasString(const Json::Value& v, const char* name) {
    const Json::Value* m = Member(v, name);
    return m && m->isString();
}

// Round trip through wide characters: a description that is not valid UTF-8
// counts as empty.
std::string NormalizeDescription(const Json::Value& v) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!v.getString(&begin, &end) || begin == end) return std::string();
    size_t size = static_cast<size_t>(end - begin);
    if (size > static_cast<size_t>(std::numeric_limits<int>::max() / 4)) return std::string();
    int n = static_cast<int>(size);
    std::vector<wchar_t> wide(size);
    int wn = MultiByteToWideChar(CP_UTF8, 0, begin, n, wide.data(), n);
    if (wn <= 0) return std::string();
    std::string out(size, '\0');
    int bn = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, &out[0], n, nullptr, nullptr);
    if (bn <= 0) return std::string();
    out.resize(static_cast<size_t>(bn));
    return out;
}

// Decodes [begin, end) through DecodeBase64Into a slice at a time, so the
// text is never copied as a whole. Slices are whole 4-character groups, which
// the decoder handles independently, and decoding stops at the first "=" as
// the decoder does.
const size_t kSliceChars = 64 * 1024;

int DecodeSlices(const char* begin, const char* end, unsigned char* out, size_t* count) {
    std::string slice;
    size_t produced = 0;
    const char* pad = static_cast<const char*>(std::memchr(begin, '=', end - begin));
    const char* stop = pad ? pad : end;
    for (const char* p = begin; p < stop;) {
        size_t n = std::min(kSliceChars, static_cast<size_t>(stop - p));
        slice.assign(p, n);
        size_t got = out ? *count - produced : 0;
        int status = DecodeBase64Into(slice, out ? out + produced : nullptr, &got);
        if (status != 0) return status;
        produced += got;
        p += n;
    }
    *count = produced;
    return 0;
}

}  // namespace

bool IsErrorResponse(const Json::Value& value) {
    if (!value.isObject()) return false;
    const Json::Value* status = Member(value, "Status");
    if (status && status->isString() && status->asString() == "Error") return true;
    return HasString(value, "Error") || HasString(value, "ErrorDescription");
}

void ThrowServiceError(const KelUrlRetriever& transport, const Json::Value& value,
                       const std::string& operation) {
    std::string message;
    uint32_t code = codes::kFail;
    if (HasString(value, "Error")) {
        message = value["Error"].asString();
        code = transport.LookupErrorCode(message);
    }
    if (HasString(value, "ErrorDescription")) {
        std::string description = NormalizeDescription(value["ErrorDescription"]);
        if (!description.empty()) message += "; ErrorDescription: " + description;
    }
    if (message.empty()) message = "Unknown error was occured during the operation " + operation;
    throw KelException(message, code);
}

Json::Value DecodeOperationResponse(const KelUrlRetriever& transport, const std::string& operation,
                                    const std::string& body, bool version2, bool emptyAllowed) {
    if (!version2 && emptyAllowed) {
        if (body.empty()) return Json::Value();
        return Json::Value("\"non_empty_value\"");
    }
    Json::Value root;
    if (!ParseJson(body, root)) {
        throw KelException(
            kDecodePrefix + operation + (version2 ? "V2" : "") + " response is not a JSON.",
            codes::kFail);
    }
    if (!version2) return root;
    if (root.isObject()) {
        const Json::Value* op = Member(root, "Operation");
        if (op && op->isObject()) {
            if (IsErrorResponse(*op)) ThrowServiceError(transport, *op, operation + "V2");
            const Json::Value* status = Member(*op, "Status");
            const Json::Value* result = Member(*op, "Result");
            if (status && status->isString() && status->asString() == "Completed" && result) {
                // Moved out rather than copied: a result may hold a large document.
                Json::Value out;
                out.swap(root["Operation"]["Result"]);
                return out;
            }
        }
    }
    throw KelException(kDecodePrefix + operation + "V2 response is a wrong JSON.", codes::kFail);
}

std::vector<unsigned char> DecodeBase64Value(const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value.getString(&begin, &end))
        throw KelException("Cannot decode Base64 value", codes::kFail);
    if (begin == end) throw KelException("Cannot decode empty Base64 value", codes::kFail);
    size_t count = 0;
    if (DecodeSlices(begin, end, nullptr, &count) != 0)
        throw KelException("Cannot decode Base64 value", codes::kFail);
    std::vector<unsigned char> bytes(count);
    if (DecodeSlices(begin, end, bytes.data(), &count) != 0)
        throw KelException("Cannot decode Base64 value", codes::kFail);
    bytes.resize(count);
    return bytes;
}

bool DecodeCertificateRecord(const Json::Value& value, CertificateRecord& record) {
    if (!value.isObject()) return false;
    const Json::Value* cert = Member(value, "CertificateBase64");
    const Json::Value* id = Member(value, "ID");
    if (!cert || !id || !cert->isString() || !IsIntegral(*id)) return false;
    record.certificate = DecodeBase64Value(*cert);
    record.id = id->asUInt();
    const Json::Value* name = Member(value, "FriendlyName");
    if (name && name->isString())
        record.friendlyName = name->asString();
    else
        record.friendlyName.clear();
    const Json::Value* pin = Member(value, "HasPin");
    if (pin && pin->isBool())
        record.hasPin = pin->asBool() ? 1 : 2;
    else
        record.hasPin = 0;
    return true;
}

std::vector<CertificateRecord> DecodeCertificateList(const std::string& body) {
    Json::Value root;
    if (!ParseJson(body, root))
        throw KelException(std::string(kDecodePrefix) + "certificate list is not a JSON.",
                           codes::kFail);
    if (!root.isArray())
        throw KelException(std::string(kDecodePrefix) + "certificate list is not array.",
                           codes::kFail);
    std::vector<CertificateRecord> list;
    list.reserve(root.size());
    for (const Json::Value& element : root) {
        CertificateRecord record;
        if (DecodeCertificateRecord(element, record)) list.push_back(std::move(record));
    }
    return list;
}

void DecodeServerPolicy(ServerPolicy& policy, const std::string& body) {
    Json::Value root;
    if (!ParseJson(body, root))
        throw KelException(std::string(kDecodePrefix) + "server policy is not a JSON.",
                           codes::kFail);
    if (root.isObject()) {
        const Json::Value* csps = Member(root, "CSPsPolicy");
        if (csps && (csps->isArray() || csps->isObject())) {
            for (const Json::Value& element : *csps) {
                if (!element.isObject()) continue;
                uint32_t providerType = 0;
                if (const Json::Value* type = Member(element, "ProviderType"))
                    providerType = type->asUInt();
                const Json::Value* sets = Member(element, "SupportedParamSets");
                if (!sets) continue;
                std::set<std::string> collected;
                if (sets->isArray() || sets->isObject()) {
                    for (const Json::Value& s : *sets) collected.insert(s.asString());
                }
                policy.paramSets[providerType] = std::move(collected);
            }
        }
        const Json::Value* actions = Member(root, "ActionPolicy");
        if (actions && actions->isArray()) {
            for (const Json::Value& element : *actions) {
                if (!HasString(element, "Action")) break;
                const Json::Value* mfa = Member(element, "MfaRequired");
                if (!mfa || !mfa->isBool()) break;
                policy.mfaByAction[element["Action"].asString()] = mfa->asBool();
            }
        }
    }
    policy.loaded = true;
}

Json::Value MakeNameValue(const std::string& name, const std::string& value) {
    Json::Value object(Json::objectValue);
    object["Name"] = name;
    object["Value"] = value;
    return object;
}

std::string MakeOperationRequest(const std::string& operationCode, const Json::Value& parameters,
                                 const std::vector<unsigned char>* document) {
    Json::Value request(Json::objectValue);
    request["OperationCode"] = operationCode;
    request["Parameters"] = parameters;
    if (document && !document->empty())
        request["Document"] = EncodeBase64(document->data(), document->size());
    Json::FastWriter writer;
    return writer.write(request);
}
