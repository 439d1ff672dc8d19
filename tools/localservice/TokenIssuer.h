#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "Codec.h"

namespace localservice {

// Access, identity and confirmation tokens, and the sign-in sessions behind silent sign-in.
// Tokens are scoped to one service; an access token may be bound to one confirmed operation.
class TokenIssuer {
  public:
    struct Access {
        std::string user;
        std::string service;
        std::string boundRef;  // confirmed operation or transaction, empty when none
    };

    TokenIssuer();

    std::string issueAccess(const std::string& user, const std::string& service, uint32_t lifetime,
                            const std::string& boundRef);
    // False for an unknown or expired token or one of another service.
    bool checkAccess(const std::string& token, const std::string& service, Access& out) const;

    // A JWT (HS256 with the service's secret) with "sub", "aud", "iss", "iat", "exp" and "sid".
    std::string issueIdToken(const std::string& user, const std::string& service,
                             const std::string& issuer, uint32_t lifetime);
    // The user of a well-formed, correctly sealed, unexpired id token whose session still runs.
    bool checkIdToken(const std::string& token, const std::string& service,
                      std::string& user) const;

    std::string issueConfToken(const std::string& user, const std::string& service,
                               uint32_t lifetime);
    bool checkConfToken(const std::string& token, const std::string& user,
                        const std::string& service) const;

    void startSession(const std::string& user, const std::string& service);
    bool hasSession(const std::string& user, const std::string& service) const;
    // Ends the user's sessions on every service and revokes the id and confirmation tokens.
    void endSessions(const std::string& user);

    // Makes tokens of a kind ("access", "id", "conf" or "all") expire now.
    bool expire(const std::string& kind);
    void clear();

    static int64_t now();

  private:
    struct Record {
        std::string user;
        std::string service;
        std::string boundRef;
        int64_t expiry;
    };
    static std::string sessionKey(const std::string& u, const std::string& s) {
        return u + "\n" + s;
    }
    Bytes secret_;
    mutable std::mutex mutex_;
    std::map<std::string, Record> access_, id_, conf_;
    std::map<std::string, std::string> sessions_;  // user+service -> session id
};

}  // namespace localservice
