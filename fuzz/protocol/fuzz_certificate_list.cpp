#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/KelException.h"
#include "protocol/ResponseDecoding.h"

// Decoding failures are KelException; a number that does not fit an id is the
// JSON library's own conversion error, which callers let pass.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    try {
        std::vector<CertificateRecord> list = DecodeCertificateList(body);
        for (const CertificateRecord& r : list) {
            if (r.hasPin < 0 || r.hasPin > 2) __builtin_trap();
        }
    } catch (const KelException&) {
    } catch (const Json::LogicError&) {
    }
    return 0;
}
