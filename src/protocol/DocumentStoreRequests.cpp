#include "protocol/DocumentStoreRequests.h"

#include <json/value.h>
#include <json/writer.h>

#include "base/ErrorCodes.h"
#include "base/JsonFields.h"
#include "base/KelException.h"
#include "protocol/SignatureRequests.h"
#include "protocol/TextEncoding.h"

std::string MakeUploadMetadata(size_t size) {
    Json::Value metadata(Json::objectValue);
    metadata["AdditionalInfo"]["SmallFile"] = size < kSmallFileLimit;
    metadata["Filename"] = kSignedDocumentName;
    const std::string text = Json::FastWriter().write(metadata);
    return EncodeBase64(text.data(), text.size());
}

std::string DecodeUploadAnswer(const std::string& answer) {
    static const char kPrefix[] =
        "Cannot decode server response. The upload document operation response is ";
    Json::Value root;
    if (!ParseJson(answer, root))
        throw KelException(std::string(kPrefix) + "not a JSON.", codes::kFail);
    const Json::Value& r = root;  // read only: a lookup adds no member
    if (!r.isObject() || !r["DocumentId"].isString())
        throw KelException(std::string(kPrefix) + "a wrong JSON.", codes::kFail);
    return r["DocumentId"].asString();
}
