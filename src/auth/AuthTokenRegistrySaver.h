#pragma once
#include "auth/AuthTokenSaverCommon.h"
#include "auth/RegistrySaver.h"

// Keeps the access and id tokens among the saved credentials (prefix +
// "_access_token", prefix + "_id_token") and the confirmation token in the
// protected store when there is one.
class AuthTokenRegistrySaver : public AuthTokenSaverCommon {
  public:
    AuthTokenRegistrySaver(const std::string& prefix, const ProtectedStore* store,
                           uint8_t machineFlag);

    void SaveAuthToken(const SecretString& token) override;
    void SaveIdToken(const SecretString& token) override;
    SecretString LoadAuthToken() override;
    SecretString LoadIdToken() override;

  private:
    void Save(const char* suffix, const SecretString& token);

    RegistrySaver registry_;
};
