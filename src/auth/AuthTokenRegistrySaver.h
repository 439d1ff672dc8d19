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

    void SaveAuthToken(const std::string& token) override;
    void SaveIdToken(const std::string& token) override;
    std::string LoadAuthToken() override;
    std::string LoadIdToken() override;

  private:
    void Save(const char* suffix, const std::string& token);

    RegistrySaver registry_;
};
