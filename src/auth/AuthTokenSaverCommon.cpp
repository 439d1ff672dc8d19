#include "auth/AuthTokenSaverCommon.h"

namespace {
const char kConfTokenSuffix[] = "_conf_token_magic";
}

AuthTokenSaverCommon::AuthTokenSaverCommon(const std::string& prefix, const ProtectedStore* store,
                                           uint8_t machineFlag)
    : prefix_(prefix), store_(store), machineFlag_(machineFlag) {}

std::string AuthTokenSaverCommon::ValueName(const char* suffix) const {
    return prefix_ + suffix;
}

void AuthTokenSaverCommon::SaveToStore(const char* suffix, const std::string& token) {
    if (!store_) return;
    const std::string name = ValueName(suffix);
    if (token.empty()) {
        ProtectedStoreDelete(*store_, machineFlag_, name);
    } else {
        ProtectedStoreSet(*store_, machineFlag_, name, token.c_str(),
                          static_cast<uint32_t>(token.size() + 1));
    }
}

std::string AuthTokenSaverCommon::LoadFromStore(const char* suffix) {
    std::string value;
    if (!store_) return value;
    ProtectedStoreGet(*store_, machineFlag_, ValueName(suffix), value);
    return value;
}

void AuthTokenSaverCommon::SaveConfToken(const std::string& token) {
    SaveToStore(kConfTokenSuffix, token);
}

std::string AuthTokenSaverCommon::LoadConfToken() {
    return LoadFromStore(kConfTokenSuffix);
}
