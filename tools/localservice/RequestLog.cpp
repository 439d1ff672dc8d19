#include "RequestLog.h"

#include "Codec.h"

namespace localservice {

namespace {

bool isValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80)
            n = 0;
        else if ((c >> 5) == 6)
            n = 1;
        else if ((c >> 4) == 14)
            n = 2;
        else if ((c >> 3) == 30)
            n = 3;
        else
            return false;
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n + 1;
    }
    return true;
}

}  // namespace

void RequestLog::add(const HttpRequest& req, const std::string& bodyPrefix,
                     const std::string& fault) {
    Json::Value e;
    std::lock_guard<std::mutex> lock(mutex_);
    e["seq"] = Json::UInt64(++sequence_);
    e["method"] = req.method;
    e["target"] = req.target;
    e["path"] = req.path;
    Json::Value headers(Json::objectValue);
    for (const auto& h : req.headers) {
        std::string name = toLower(h.first);
        if (headers.isMember(name))
            headers[name] = headers[name].asString() + ", " + h.second;
        else
            headers[name] = h.second;
    }
    e["headers"] = headers;
    e["bodySize"] = Json::UInt64(req.bodySize);
    e["bodyTruncated"] = req.bodySize > bodyPrefix.size();
    if (isValidUtf8(bodyPrefix))
        e["body"] = bodyPrefix;
    else
        e["bodyBase64"] = base64Encode(bodyPrefix);
    if (!fault.empty()) e["fault"] = fault;
    entries_.push_back(e);
    if (entries_.size() > kMaxEntries) entries_.pop_front();
}

Json::Value RequestLog::toJson() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Json::Value out(Json::arrayValue);
    for (const auto& e : entries_) out.append(e);
    return out;
}

void RequestLog::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

bool FaultInjector::add(const Json::Value& spec, std::string& message) {
    if (!spec.isObject()) {
        message = "a fault is a JSON object";
        return false;
    }
    Fault f;
    f.remaining = 1;
    if (spec.isMember("count")) {
        if (!spec["count"].isUInt() || spec["count"].asUInt() == 0) {
            message = "\"count\" is an integer above 0";
            return false;
        }
        f.remaining = spec["count"].asUInt();
    }
    if (spec.isMember("status")) {
        if (!spec["status"].isInt() || spec["status"].asInt() < 100 ||
            spec["status"].asInt() > 599) {
            message = "\"status\" is an HTTP status";
            return false;
        }
        f.status = spec["status"].asInt();
    }
    if (spec.isMember("body")) {
        if (!spec["body"].isString()) {
            message = "\"body\" is a string";
            return false;
        }
        f.body = spec["body"].asString();
    }
    if (spec.isMember("contentType") && spec["contentType"].isString())
        f.contentType = spec["contentType"].asString();
    if (spec.isMember("pathContains") && spec["pathContains"].isString())
        f.pathContains = spec["pathContains"].asString();
    if (spec.isMember("drop")) {
        if (!spec["drop"].isBool()) {
            message = "\"drop\" is a boolean";
            return false;
        }
        f.drop = spec["drop"].asBool();
    }
    if (spec.isMember("delayMs")) {
        if (!spec["delayMs"].isUInt() || spec["delayMs"].asUInt() > 60000) {
            message = "\"delayMs\" is an integer up to 60000";
            return false;
        }
        f.delayMs = spec["delayMs"].asUInt();
    }
    if (f.status == 0 && !f.drop && f.delayMs == 0) {
        message = "a fault needs \"status\", \"drop\" or \"delayMs\"";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(f);
    return true;
}

bool FaultInjector::take(const std::string& target, Fault& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!it->pathContains.empty() && target.find(it->pathContains) == std::string::npos)
            continue;
        out = *it;
        if (--it->remaining == 0) faults_.erase(it);
        return true;
    }
    return false;
}

void FaultInjector::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

Json::Value FaultInjector::toJson() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Json::Value out(Json::arrayValue);
    for (const auto& f : faults_) {
        Json::Value v;
        v["remaining"] = f.remaining;
        v["status"] = f.status;
        v["drop"] = f.drop;
        v["delayMs"] = f.delayMs;
        v["pathContains"] = f.pathContains;
        out.append(v);
    }
    return out;
}

}  // namespace localservice
