#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/KelException.h"
#include "protocol/KeyOperationAnswers.h"

// The answers of the PIN validation, the key parameter reads and the
// single-record certificate answers. Only KelException may come out (and the
// JSON library's conversion error for an "ID" beyond 32 bits, which callers
// let pass); a decoded answer keeps its invariants.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    try {
        uint32_t count = 5;
        const bool valid = DecodePinValidationAnswer(body, &count);
        uint32_t again = 5;
        if (DecodePinValidationAnswer(body, nullptr) != valid ||
            DecodePinValidationAnswer(body, &again) != valid || again != count)
            std::abort();
    } catch (const KelException& e) {
        if (e.code() == 0) std::abort();
    }
    try {
        const std::string text = DecodeKeyParameterAnswer(body);
        const uint32_t number = KeyParameterNumber(text);
        if (number != 0 && (text.empty() || text[0] < '0' || text[0] > '9')) std::abort();
        KeyParameterBytes(text);
    } catch (const KelException& e) {
        if (e.code() == 0) std::abort();
    }
    KeyParameterBytes(body);
    try {
        const CertificateRecord r = DecodeCertificateAnswer(body, "not json", "wrong", 2);
        if (r.hasPin < 0 || r.hasPin > 2) std::abort();
    } catch (const KelException& e) {
        if (e.code() == 0) std::abort();
    } catch (const Json::LogicError&) {
    }
    return 0;
}
