#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/KelException.h"
#include "protocol/ResponseDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    ServerPolicy policy;
    try {
        DecodeServerPolicy(policy, body);
        if (!policy.loaded) __builtin_trap();
    } catch (const KelException&) {
        if (policy.loaded) __builtin_trap();
    } catch (const Json::LogicError&) {
        // A provider type or parameter set of a type that does not convert.
    }
    return 0;
}
