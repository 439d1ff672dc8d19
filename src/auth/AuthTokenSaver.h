#pragma once
#include <string>

// Where a connector keeps its tokens between connectors. Saving an empty
// string erases the stored value; loading an absent value gives "".
class AuthTokenSaver {
  public:
    virtual ~AuthTokenSaver() = default;
    virtual void SaveAuthToken(const std::string& token) = 0;
    virtual void SaveIdToken(const std::string& token) = 0;
    virtual void SaveConfToken(const std::string& token) = 0;
    virtual std::string LoadAuthToken() = 0;
    virtual std::string LoadIdToken() = 0;
    virtual std::string LoadConfToken() = 0;
};
