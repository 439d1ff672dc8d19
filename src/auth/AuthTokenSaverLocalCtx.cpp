#include "auth/AuthTokenSaverLocalCtx.h"

namespace {
const char kAuthTokenSuffix[] = "_auth_token_magic";
const char kIdTokenSuffix[] = "_id_token_magic";
}  // namespace

AuthTokenSaverLocalCtx::AuthTokenSaverLocalCtx(const std::string& prefix,
                                               const ProtectedStore* store, uint8_t machineFlag)
    : AuthTokenSaverCommon(prefix, store, machineFlag) {}

void AuthTokenSaverLocalCtx::SaveAuthToken(const std::string& token) {
    SaveToStore(kAuthTokenSuffix, token);
}

void AuthTokenSaverLocalCtx::SaveIdToken(const std::string& token) {
    SaveToStore(kIdTokenSuffix, token);
}

std::string AuthTokenSaverLocalCtx::LoadAuthToken() {
    return LoadFromStore(kAuthTokenSuffix);
}

std::string AuthTokenSaverLocalCtx::LoadIdToken() {
    return LoadFromStore(kIdTokenSuffix);
}
