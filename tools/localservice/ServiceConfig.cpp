#include "ServiceConfig.h"

#include <stdexcept>

#include "GostKeys.h"

namespace localservice {

namespace {

const char* kActions[] = {"SignDocument", "PrivateKeyAccess", "CreateRequest", "DeleteCertificate",
                          "ChangePin"};

Json::Value providerEntry(int type, const std::vector<std::string>& paramSets) {
    Json::Value entry;
    entry["ProviderType"] = type;
    for (const auto& oid : paramSets) entry["SupportedParamSets"].append(oid);
    return entry;
}

// Provider types as the certificate link maps key algorithms: 80 GOST R 34.10-2012 256-bit,
// 81 its 512-bit keys (only with the GOST engine), 16 ECDSA, 24 RSA.
Json::Value defaultProviders() {
    Json::Value p(Json::arrayValue);
    if (gostkeys::Available()) {
        p.append(providerEntry(80, gostkeys::ParamSetOids(256)));
        p.append(providerEntry(81, gostkeys::ParamSetOids(512)));
    }
    p.append(providerEntry(16, {"1.2.840.10045.3.1.7"}));
    p.append(providerEntry(24, {"1.3.14.3.2.11", "1.3.14.3.2.22"}));
    return p;
}

std::string getString(const Json::Value& v, const char* name, const std::string& def) {
    if (!v.isMember(name)) return def;
    if (!v[name].isString())
        throw std::runtime_error(std::string("\"") + name + "\" must be a string");
    return v[name].asString();
}

uint32_t getUInt(const Json::Value& v, const char* name, uint32_t def) {
    if (!v.isMember(name)) return def;
    if (!v[name].isUInt())
        throw std::runtime_error(std::string("\"") + name + "\" must be an unsigned integer");
    return v[name].asUInt();
}

bool getBool(const Json::Value& v, const char* name, bool def) {
    if (!v.isMember(name)) return def;
    if (!v[name].isBool())
        throw std::runtime_error(std::string("\"") + name + "\" must be a boolean");
    return v[name].asBool();
}

}  // namespace

ServiceConfig ServiceConfig::defaults() {
    ServiceConfig c;
    UserConfig demo;
    demo.login = "demo";
    demo.password = "demo-password";
    KeyConfig rsa;
    rsa.id = 1;
    rsa.type = "rsa";
    rsa.friendlyName = "Demo RSA key";
    rsa.pin = "1234";
    KeyConfig ec;
    ec.id = 2;
    ec.type = "ec";
    ec.friendlyName = "Demo EC key";
    ec.pin = "1234";
    demo.keys = {rsa, ec};
    KeyConfig gost256;
    gost256.id = 3;
    gost256.type = "gost256";
    gost256.friendlyName = "Demo GOST 2012-256 key";
    gost256.pin = "1234";
    KeyConfig gost512 = gost256;
    gost512.id = 4;
    gost512.type = "gost512";
    gost512.friendlyName = "Demo GOST 2012-512 key";
    demo.keys.push_back(gost256);
    demo.keys.push_back(gost512);
    c.users.push_back(demo);
    ServiceEntry v2;
    v2.name = "local-v2";
    v2.apiVersion = 2;
    v2.documentStore = true;
    v2.description = "Local signature service (API version 2, document store)";
    ServiceEntry v1;
    v1.name = "local-v1";
    v1.apiVersion = 1;
    v1.documentStore = false;
    v1.description = "Local signature service (API version 1)";
    c.services = {v2, v1};
    for (const char* a : kActions) c.runtime.mfa[a] = false;
    c.runtime.providers = defaultProviders();
    return c;
}

ServiceConfig ServiceConfig::fromJson(const Json::Value& root) {
    ServiceConfig c = defaults();
    if (!root.isObject()) throw std::runtime_error("the configuration must be a JSON object");
    if (root.isMember("users")) {
        const Json::Value& users = root["users"];
        if (!users.isArray()) throw std::runtime_error("\"users\" must be an array");
        c.users.clear();
        std::map<uint32_t, bool> ids;
        for (const auto& u : users) {
            if (!u.isObject()) throw std::runtime_error("a user must be an object");
            UserConfig uc;
            uc.login = getString(u, "login", "");
            uc.password = getString(u, "password", "");
            if (uc.login.empty()) throw std::runtime_error("a user needs a \"login\"");
            for (const auto& other : c.users)
                if (other.login == uc.login) throw std::runtime_error("logins must be unique");
            if (u.isMember("keys")) {
                if (!u["keys"].isArray()) throw std::runtime_error("\"keys\" must be an array");
                for (const auto& k : u["keys"]) {
                    if (!k.isObject()) throw std::runtime_error("a key must be an object");
                    KeyConfig kc;
                    kc.id = getUInt(k, "id", 0);
                    kc.type = getString(k, "type", "rsa");
                    kc.friendlyName = getString(k, "friendlyName", "");
                    kc.pin = getString(k, "pin", "");
                    kc.rsaBits = getUInt(k, "rsaBits", 2048);
                    if (kc.id == 0) throw std::runtime_error("a key needs an \"id\" above 0");
                    if (ids[kc.id]) throw std::runtime_error("key ids must be unique");
                    ids[kc.id] = true;
                    if (kc.type != "rsa" && kc.type != "ec" && kc.type != "gost256" &&
                        kc.type != "gost512")
                        throw std::runtime_error(
                            "a key \"type\" is \"rsa\", \"ec\", \"gost256\" or \"gost512\"");
                    if (kc.rsaBits < 1024 || kc.rsaBits > 4096)
                        throw std::runtime_error("\"rsaBits\" must lie between 1024 and 4096");
                    uc.keys.push_back(kc);
                }
            }
            c.users.push_back(uc);
        }
    }
    if (root.isMember("services")) {
        const Json::Value& services = root["services"];
        if (!services.isArray() || services.empty())
            throw std::runtime_error("\"services\" must be a non-empty array");
        c.services.clear();
        for (const auto& s : services) {
            if (!s.isObject()) throw std::runtime_error("a service must be an object");
            ServiceEntry e;
            e.name = getString(s, "name", "");
            if (e.name.empty() || e.name.find_first_not_of(
                                      "abcdefghijklmnopqrstuvwxyz0123456789-") != std::string::npos)
                throw std::runtime_error(
                    "a service \"name\" uses lower-case letters, digits and '-'");
            e.apiVersion = static_cast<int>(getUInt(s, "apiVersion", 2));
            if (e.apiVersion < 1 || e.apiVersion > 2)
                throw std::runtime_error("\"apiVersion\" is 1 or 2");
            e.documentStore = getBool(s, "documentStore", e.apiVersion >= 2);
            if (e.documentStore && e.apiVersion < 2)
                throw std::runtime_error("a document store needs \"apiVersion\" 2");
            e.description = getString(s, "description", "");
            e.isTest = getBool(s, "isTest", true);
            c.services.push_back(e);
        }
    }
    c.redirectSuffix = getString(root, "redirectSuffix", c.redirectSuffix);
    applyRuntime(c.runtime, root);
    return c;
}

void ServiceConfig::applyRuntime(RuntimeSettings& rt, const Json::Value& root) {
    if (!root.isObject()) throw std::runtime_error("the configuration must be a JSON object");
    RuntimeSettings n = rt;
    if (root.isMember("tokens")) {
        const Json::Value& t = root["tokens"];
        if (!t.isObject()) throw std::runtime_error("\"tokens\" must be an object");
        n.accessTokenLifetime = getUInt(t, "accessLifetime", n.accessTokenLifetime);
        n.idTokenLifetime = getUInt(t, "idLifetime", n.idTokenLifetime);
        n.confTokenLifetime = getUInt(t, "confLifetime", n.confTokenLifetime);
        n.issueConfToken = getBool(t, "issueConfToken", n.issueConfToken);
        if (n.accessTokenLifetime == 0 || n.idTokenLifetime == 0 || n.confTokenLifetime == 0)
            throw std::runtime_error("token lifetimes are at least 1 second");
    }
    if (root.isMember("confirmation")) {
        const Json::Value& c = root["confirmation"];
        if (!c.isObject()) throw std::runtime_error("\"confirmation\" must be an object");
        n.challenge = getString(c, "challenge", n.challenge);
        n.confirmationMethod = getString(c, "method", n.confirmationMethod);
        n.pollsBeforeFinal = getUInt(c, "polls", n.pollsBeforeFinal);
        n.outcome = getString(c, "outcome", n.outcome);
        if (n.challenge != "text" && n.challenge != "choice")
            throw std::runtime_error("\"challenge\" is \"text\" or \"choice\"");
        if (n.outcome != "approve" && n.outcome != "decline" && n.outcome != "cancel")
            throw std::runtime_error("\"outcome\" is \"approve\", \"decline\" or \"cancel\"");
    }
    if (root.isMember("policy")) {
        const Json::Value& p = root["policy"];
        if (!p.isObject()) throw std::runtime_error("\"policy\" must be an object");
        if (p.isMember("mfa")) {
            if (!p["mfa"].isObject()) throw std::runtime_error("\"mfa\" must be an object");
            for (const auto& name : p["mfa"].getMemberNames()) {
                if (!p["mfa"][name].isBool())
                    throw std::runtime_error("\"mfa\" values are booleans");
                n.mfa[name] = p["mfa"][name].asBool();
            }
        }
        if (p.isMember("providers")) {
            if (!p["providers"].isArray())
                throw std::runtime_error("\"providers\" must be an array");
            n.providers = p["providers"];
        }
    }
    n.pinAttempts = getUInt(root, "pinAttempts", n.pinAttempts);
    if (n.pinAttempts == 0) throw std::runtime_error("\"pinAttempts\" is at least 1");
    n.requireMessageSignature = getBool(root, "requireMessageSignature", n.requireMessageSignature);
    if (root.isMember("maxRequestBytes")) {
        if (!root["maxRequestBytes"].isUInt64())
            throw std::runtime_error("\"maxRequestBytes\" must be an unsigned integer");
        n.maxRequestBytes = root["maxRequestBytes"].asUInt64();
    }
    rt = n;
}

Json::Value ServiceConfig::runtimeToJson(const RuntimeSettings& rt) {
    Json::Value v;
    v["tokens"]["accessLifetime"] = rt.accessTokenLifetime;
    v["tokens"]["idLifetime"] = rt.idTokenLifetime;
    v["tokens"]["confLifetime"] = rt.confTokenLifetime;
    v["tokens"]["issueConfToken"] = rt.issueConfToken;
    v["confirmation"]["challenge"] = rt.challenge;
    v["confirmation"]["method"] = rt.confirmationMethod;
    v["confirmation"]["polls"] = rt.pollsBeforeFinal;
    v["confirmation"]["outcome"] = rt.outcome;
    for (const auto& m : rt.mfa) v["policy"]["mfa"][m.first] = m.second;
    v["policy"]["providers"] = rt.providers;
    v["pinAttempts"] = rt.pinAttempts;
    v["requireMessageSignature"] = rt.requireMessageSignature;
    v["maxRequestBytes"] = Json::UInt64(rt.maxRequestBytes);
    return v;
}

}  // namespace localservice
