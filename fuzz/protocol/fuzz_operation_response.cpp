#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/KelException.h"
#include "protocol/ResponseDecoding.h"
#include "transport/KelUrlRetriever.h"

// A version 1 and a version 2 decode of the same answer, plus the helpers
// that read single members of an answer. Only KelException may come out,
// and the JSON library's range refusal from the numeric member reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static KelUrlRetriever transport(0, 0, false, true, true);
    std::string body(reinterpret_cast<const char*>(data), size);
    for (int version2 = 0; version2 < 2; ++version2) {
        try {
            Json::Value v = DecodeOperationResponse(transport, "Fuzz", body, version2, false);
            if (!version2 && IsErrorResponse(v)) ThrowServiceError(transport, v, "Fuzz");
            if (v.isString()) {
                try {
                    DecodeBase64Value(v);
                } catch (const KelException&) {
                }
            }
        } catch (const KelException& e) {
            if (e.code() == 0) std::abort();
        }
    }
    GetJsonStringField(body, "Message");
    uint32_t value = 0;
    try {
        GetJsonUIntField(body, "exp", value);
    } catch (const Json::LogicError&) {
        // A negative or wider-than-32-bit number: the library's own refusal
        // passes through on purpose.
    }
    return 0;
}
