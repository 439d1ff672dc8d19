#pragma once
#include <cstdint>
#include <string>

#include "auth/AuthTokenSaver.h"
#include "auth/ProtectedStore.h"

// What both token savers share: the name prefix, the host's protected store
// (not owned, may be null) and the machine flag; the confirmation token always
// lives in the protected store under prefix + "_conf_token_magic".
class AuthTokenSaverCommon : public AuthTokenSaver {
  public:
    AuthTokenSaverCommon(const std::string& prefix, const ProtectedStore* store,
                         uint8_t machineFlag);

    // Without a protected store saving does nothing and loading gives "".
    void SaveConfToken(const SecretString& token) override;
    SecretString LoadConfToken() override;

    const std::string& Prefix() const { return prefix_; }

  protected:
    // prefix + suffix
    std::string ValueName(const char* suffix) const;
    // Stores a non-empty token with its terminating NUL; an empty one deletes the value.
    void SaveToStore(const char* suffix, const SecretString& token);
    // "" when the value is absent or cannot be read.
    SecretString LoadFromStore(const char* suffix);

    std::string prefix_;
    const ProtectedStore* store_;
    uint8_t machineFlag_;
};
