#include "FaultInjector.h"

namespace localservice {

bool FaultInjector::add(const Json::Value& doc, std::string& message) {
    if (!doc.isObject()) {
        message = "a fault is a JSON object";
        return false;
    }
    Fault f;
    f.remaining = 1;
    if (doc.isMember("count")) {
        if (!doc["count"].isUInt() || doc["count"].asUInt() == 0) {
            message = "\"count\" is an integer above 0";
            return false;
        }
        f.remaining = doc["count"].asUInt();
    }
    if (doc.isMember("status")) {
        if (!doc["status"].isInt() || doc["status"].asInt() < 100 || doc["status"].asInt() > 599) {
            message = "\"status\" is an HTTP status";
            return false;
        }
        f.status = doc["status"].asInt();
    }
    if (doc.isMember("body")) {
        if (!doc["body"].isString()) {
            message = "\"body\" is a string";
            return false;
        }
        f.body = doc["body"].asString();
    }
    if (doc.isMember("contentType") && doc["contentType"].isString())
        f.contentType = doc["contentType"].asString();
    if (doc.isMember("pathContains") && doc["pathContains"].isString())
        f.pathContains = doc["pathContains"].asString();
    if (doc.isMember("drop")) {
        if (!doc["drop"].isBool()) {
            message = "\"drop\" is a boolean";
            return false;
        }
        f.drop = doc["drop"].asBool();
    }
    if (doc.isMember("delayMs")) {
        if (!doc["delayMs"].isUInt() || doc["delayMs"].asUInt() > 60000) {
            message = "\"delayMs\" is an integer up to 60000";
            return false;
        }
        f.delayMs = doc["delayMs"].asUInt();
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
