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

void AuthTokenSaverCommon::SaveToStore(const char* suffix, const SecretString& token) {
    if (!store_) return;
    const std::string name = ValueName(suffix);
    if (token.empty()) {
        ProtectedStoreDelete(*store_, machineFlag_, name);
    } else {
        ProtectedStoreSet(*store_, machineFlag_, name, token.c_str(),
                          static_cast<uint32_t>(token.size() + 1));
    }
}

SecretString AuthTokenSaverCommon::LoadFromStore(const char* suffix) {
    SecretString value;
    if (!store_) return value;
    ProtectedStoreGet(*store_, machineFlag_, ValueName(suffix), value);
    return value;
}

void AuthTokenSaverCommon::SaveConfToken(const SecretString& token) {
    SaveToStore(kConfTokenSuffix, token);
}

SecretString AuthTokenSaverCommon::LoadConfToken() {
    return LoadFromStore(kConfTokenSuffix);
}
