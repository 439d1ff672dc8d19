#include "TokenIssuer.h"

#include <json/json.h>

#include <chrono>
#include <iterator>

namespace localservice {

TokenIssuer::TokenIssuer() : secret_(randomBytes(32)) {}

int64_t TokenIssuer::now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string TokenIssuer::issueAccess(const std::string& user, const std::string& service,
                                     uint32_t lifetime, const std::string& boundRef) {
    std::string token = randomId("at.", 24);
    std::lock_guard<std::mutex> lock(mutex_);
    // Expired access tokens are forgotten now and then, so that a long run stays small.
    if (access_.size() >= 4096) {
        int64_t t = now();
        for (auto it = access_.begin(); it != access_.end();)
            it = it->second.expiry <= t ? access_.erase(it) : std::next(it);
    }
    access_[token] = {user, service, boundRef, now() + lifetime};
    return token;
}

bool TokenIssuer::checkAccess(const std::string& token, const std::string& service,
                              Access& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = access_.find(token);
    if (it == access_.end() || it->second.service != service || now() >= it->second.expiry)
        return false;
    out = {it->second.user, it->second.service, it->second.boundRef};
    return true;
}

std::string TokenIssuer::issueIdToken(const std::string& user, const std::string& service,
                                      const std::string& issuer, uint32_t lifetime) {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t t = now();
    Json::Value payload;
    payload["iss"] = issuer;
    payload["sub"] = user;
    payload["aud"] = "veltra.cloud.csp";
    payload["iat"] = Json::Int64(t);
    payload["exp"] = Json::Int64(t + lifetime);
    auto s = sessions_.find(sessionKey(user, service));
    payload["sid"] = s == sessions_.end() ? std::string() : s->second;
    payload["nonce"] = randomId("", 9);
    std::string signingInput = base64UrlEncode(std::string("{\"alg\":\"HS256\",\"typ\":\"JWT\"}")) +
                               "." + base64UrlEncode(toJson(payload));
    Bytes mac = hmacSha256(secret_, signingInput);
    std::string token = signingInput + "." + base64UrlEncode(mac.data(), mac.size());
    id_[token] = {user, service, "", t + lifetime};
    return token;
}

bool TokenIssuer::checkIdToken(const std::string& token, const std::string& service,
                               std::string& user) const {
    size_t d1 = token.find('.');
    size_t d2 = d1 == std::string::npos ? d1 : token.find('.', d1 + 1);
    if (d2 == std::string::npos) return false;
    Bytes mac;
    if (!base64UrlDecode(token.substr(d2 + 1), mac) ||
        !constantTimeEqual(mac, hmacSha256(secret_, token.substr(0, d2))))
        return false;
    Bytes payloadBytes;
    Json::Value payload;
    if (!base64UrlDecode(token.substr(d1 + 1, d2 - d1 - 1), payloadBytes) ||
        !parseJson(std::string(payloadBytes.begin(), payloadBytes.end()), payload) ||
        !payload.isObject() || !payload["sub"].isString() || !payload["sid"].isString())
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = id_.find(token);
    if (it == id_.end() || it->second.service != service || now() >= it->second.expiry)
        return false;
    auto s = sessions_.find(sessionKey(it->second.user, service));
    if (s == sessions_.end() || s->second != payload["sid"].asString()) return false;
    user = it->second.user;
    return true;
}

std::string TokenIssuer::issueConfToken(const std::string& user, const std::string& service,
                                        uint32_t lifetime) {
    std::string token = randomId("ct.", 24);
    std::lock_guard<std::mutex> lock(mutex_);
    conf_[token] = {user, service, "", now() + lifetime};
    return token;
}

bool TokenIssuer::checkConfToken(const std::string& token, const std::string& user,
                                 const std::string& service) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = conf_.find(token);
    return it != conf_.end() && it->second.user == user && it->second.service == service &&
           now() < it->second.expiry;
}

void TokenIssuer::startSession(const std::string& user, const std::string& service) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& sid = sessions_[sessionKey(user, service)];
    if (sid.empty()) sid = randomId("s.", 12);
}

bool TokenIssuer::hasSession(const std::string& user, const std::string& service) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.count(sessionKey(user, service)) > 0;
}

void TokenIssuer::endSessions(const std::string& user) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (it->first.compare(0, user.size() + 1, user + "\n") == 0)
            it = sessions_.erase(it);
        else
            ++it;
    }
    for (auto* m : {&id_, &conf_})
        for (auto it = m->begin(); it != m->end();) {
            if (it->second.user == user)
                it = m->erase(it);
            else
                ++it;
        }
}

bool TokenIssuer::expire(const std::string& kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool all = kind == "all";
    if (!all && kind != "access" && kind != "id" && kind != "conf") return false;
    if (all || kind == "access")
        for (auto& t : access_) t.second.expiry = 0;
    if (all || kind == "id")
        for (auto& t : id_) t.second.expiry = 0;
    if (all || kind == "conf")
        for (auto& t : conf_) t.second.expiry = 0;
    return true;
}

void TokenIssuer::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    access_.clear();
    id_.clear();
    conf_.clear();
    sessions_.clear();
}

}  // namespace localservice
