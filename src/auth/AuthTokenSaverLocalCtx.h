#pragma once
#include "auth/AuthTokenSaverCommon.h"

// Keeps all three tokens in the host's protected store (the caller runs the
// reader in a local context): prefix + "_auth_token_magic" and
// "_id_token_magic" beside the inherited "_conf_token_magic". Without a store
// the saver keeps nothing: saves are ignored and loads give "".
class AuthTokenSaverLocalCtx : public AuthTokenSaverCommon {
  public:
    AuthTokenSaverLocalCtx(const std::string& prefix, const ProtectedStore* store,
                           uint8_t machineFlag);

    void SaveAuthToken(const SecretString& token) override;
    void SaveIdToken(const SecretString& token) override;
    SecretString LoadAuthToken() override;
    SecretString LoadIdToken() override;
};
