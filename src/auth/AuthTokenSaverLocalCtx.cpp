#include "auth/AuthTokenSaverLocalCtx.h"

namespace {
const char kAuthTokenSuffix[] = "_auth_token_magic";
const char kIdTokenSuffix[] = "_id_token_magic";
}  // namespace

AuthTokenSaverLocalCtx::AuthTokenSaverLocalCtx(const std::string& prefix,
                                               const ProtectedStore* store, uint8_t machineFlag)
    : AuthTokenSaverCommon(prefix, store, machineFlag) {}

void AuthTokenSaverLocalCtx::SaveAuthToken(const SecretString& token) {
    SaveToStore(kAuthTokenSuffix, token);
}

void AuthTokenSaverLocalCtx::SaveIdToken(const SecretString& token) {
    SaveToStore(kIdTokenSuffix, token);
}

SecretString AuthTokenSaverLocalCtx::LoadAuthToken() {
    return LoadFromStore(kAuthTokenSuffix);
}

SecretString AuthTokenSaverLocalCtx::LoadIdToken() {
    return LoadFromStore(kIdTokenSuffix);
}
