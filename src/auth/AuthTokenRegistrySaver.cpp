#include "auth/AuthTokenRegistrySaver.h"

#include "config/SavedCredentials.h"

namespace {
const char kAccessTokenSuffix[] = "_access_token";
const char kIdTokenSuffix[] = "_id_token";
}  // namespace

AuthTokenRegistrySaver::AuthTokenRegistrySaver(const std::string& prefix,
                                               const ProtectedStore* store, uint8_t machineFlag)
    : AuthTokenSaverCommon(prefix, store, machineFlag), registry_(prefix) {}

void AuthTokenRegistrySaver::Save(const char* suffix, const SecretString& token) {
    const std::string key = registry_.Prefix() + suffix;
    if (token.empty()) {
        DeleteSecret(key);
    } else {
        SaveSecret(key, token);
    }
}

void AuthTokenRegistrySaver::SaveAuthToken(const SecretString& token) {
    Save(kAccessTokenSuffix, token);
}

void AuthTokenRegistrySaver::SaveIdToken(const SecretString& token) {
    Save(kIdTokenSuffix, token);
}

SecretString AuthTokenRegistrySaver::LoadAuthToken() {
    return registry_.Load(kAccessTokenSuffix);
}

SecretString AuthTokenRegistrySaver::LoadIdToken() {
    return registry_.Load(kIdTokenSuffix);
}
