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

}  // namespace localservice
