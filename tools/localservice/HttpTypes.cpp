#include "HttpTypes.h"

#include <strings.h>

#include "Codec.h"

namespace localservice {

bool HttpRequest::hasHeader(const std::string& name) const {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return true;
    return false;
}

std::string HttpRequest::header(const std::string& name) const {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    return {};
}

std::vector<std::string> HttpRequest::headerValues(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) out.push_back(h.second);
    return out;
}

std::string HttpRequest::param(const std::string& name) const {
    auto it = query.find(name);
    return it == query.end() ? std::string() : it->second;
}

void HttpResponse::json(const Json::Value& v, int code) {
    status = code;
    contentType = "application/json; charset=utf-8";
    body = toJson(v);
}

void HttpResponse::text(const std::string& t, const std::string& type, int code) {
    status = code;
    contentType = type;
    body = t;
}

void HttpResponse::redirect(const std::string& location) {
    text("", "text/plain; charset=utf-8", 302);
    headers.emplace_back("Location", location);
}

void HttpResponse::error(int code, const std::string& err, const std::string& description) {
    Json::Value v;
    v["error"] = err;
    v["error_description"] = description;
    json(v, code);
}

}  // namespace localservice
