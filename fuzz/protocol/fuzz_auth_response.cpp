#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/KelException.h"
#include "protocol/AuthResponse.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

// The input is the key=value text that the browser application or the auth
// server hands back.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static KelUrlRetriever transport(0, 0, false, true, true);
    std::string text(reinterpret_cast<const char*>(data), size);
    AuthParameters parameters = ParseKeyValueText(text);
    SecretString access, id, conf;
    TSupTime a = {0}, i = {0}, c = {0};
    try {
        DecodeAuthResponse(transport, parameters, access, a, id, i, conf, c);
        if (access.empty() && parameters["access_token"].size()) __builtin_trap();
    } catch (const KelException& e) {
        if (e.code() == 0) __builtin_trap();
    } catch (const Json::LogicError&) {
        // An "exp" claim outside 32 bits: the JSON library's conversion error.
    }
    try {
        ExpiryFromIdToken(text.c_str(), i);
    } catch (const KelException&) {
    } catch (const Json::LogicError&) {
    }
    return 0;
}
