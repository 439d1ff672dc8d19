#pragma once
#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace localservice {

// A request as the endpoints see it; the HTTP library stays in the front end.
struct HttpRequest {
    std::string method;
    std::string target;  // path and query exactly as received
    std::string path;    // decoded path without the query
    std::vector<std::pair<std::string, std::string>> headers;
    std::multimap<std::string, std::string> query;  // decoded query parameters
    std::string body;                               // in memory unless bodyFile is set
    std::string bodyFile;                           // large uploads streamed to disk
    uint64_t bodySize = 0;

    bool hasHeader(const std::string& name) const;
    // The first header of that name (case-insensitive), or empty.
    std::string header(const std::string& name) const;
    // All values of that name, in the order they were received.
    std::vector<std::string> headerValues(const std::string& name) const;
    bool hasParam(const std::string& name) const { return query.count(name) > 0; }
    std::string param(const std::string& name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json; charset=utf-8";
    std::string body;
    std::string file;  // when set, the body is streamed from this file
    std::vector<std::pair<std::string, std::string>> headers;
    bool drop = false;  // close the connection without a complete answer

    void json(const Json::Value& v, int code = 200);
    void text(const std::string& t, const std::string& type = "text/plain; charset=utf-8",
              int code = 200);
    // 302 to location, with an empty body.
    void redirect(const std::string& location);
    // {"error": error, "error_description": description}
    void error(int code, const std::string& error, const std::string& description);
};

}  // namespace localservice
