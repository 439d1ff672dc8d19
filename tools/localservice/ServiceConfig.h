#pragma once
#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace localservice {

struct KeyConfig {
    uint32_t id = 0;
    std::string type;  // "rsa", "ec", "gost256" or "gost512"
    std::string friendlyName;
    std::string pin;  // empty: the key has no PIN
    uint32_t rsaBits = 2048;
};

struct UserConfig {
    std::string login;
    std::string password;
    std::vector<KeyConfig> keys;
};

struct ServiceEntry {
    std::string name;  // also the sign server's path segment
    int apiVersion = 2;
    bool documentStore = true;
    std::string description;
    bool isTest = true;
    std::string authSegment() const { return name + "-auth"; }
    std::string docsSegment() const { return name + "-docs"; }
    std::string resourceUrn() const { return "urn:veltra:kel:signserver:" + name; }
};

// Settings that tests may change while the service runs (admin port).
struct RuntimeSettings {
    uint32_t accessTokenLifetime = 3600;
    uint32_t idTokenLifetime = 36000;
    uint32_t confTokenLifetime = 3600;
    bool issueConfToken = true;
    // Confirmation: "text" or "choice"; pending answers before the final one; the user's answer.
    std::string challenge = "text";
    std::string confirmationMethod = "http://schemas.veltra.ru/kel/authenticationmethod/mobile";
    uint32_t pollsBeforeFinal = 1;
    std::string outcome = "approve";  // "approve", "decline", "cancel"
    uint32_t pinAttempts = 10;
    bool requireMessageSignature = false;
    std::map<std::string, bool> mfa;  // action name -> MFA required
    Json::Value providers;            // "CSPsPolicy" array as published
    uint64_t maxRequestBytes = 256ull * 1024 * 1024;
};

struct ServiceConfig {
    std::vector<UserConfig> users;
    std::vector<ServiceEntry> services;
    std::string redirectSuffix = "/oauth2redirect/cloudcsp";
    RuntimeSettings runtime;

    static ServiceConfig defaults();
    // Reads a configuration document; members not given keep their default values.
    // Throws std::runtime_error with a readable message on a bad document.
    static ServiceConfig fromJson(const Json::Value& root);
    // Applies the runtime members of a document (admin "configure").
    static void applyRuntime(RuntimeSettings& rt, const Json::Value& root);
    static Json::Value runtimeToJson(const RuntimeSettings& rt);
};

}  // namespace localservice
