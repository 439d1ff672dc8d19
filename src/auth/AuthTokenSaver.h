#pragma once
#include "base/SecretString.h"

// Where a connector keeps its tokens between connectors. Saving an empty
// string erases the stored value; loading an absent value gives "".
class AuthTokenSaver {
  public:
    virtual ~AuthTokenSaver() = default;
    virtual void SaveAuthToken(const SecretString& token) = 0;
    virtual void SaveIdToken(const SecretString& token) = 0;
    virtual void SaveConfToken(const SecretString& token) = 0;
    virtual SecretString LoadAuthToken() = 0;
    virtual SecretString LoadIdToken() = 0;
    virtual SecretString LoadConfToken() = 0;
};
