#pragma once
#include <json/json.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "HttpTypes.h"

namespace localservice {

// Every request the service port received, for tests to inspect through the admin port.
class RequestLog {
  public:
    static constexpr size_t kMaxLoggedBody = 64 * 1024;
    static constexpr size_t kMaxEntries = 10000;

    // Records the request; the body is kept up to kMaxLoggedBody bytes (prefix for streamed ones).
    void add(const HttpRequest& req, const std::string& bodyPrefix, const std::string& fault);
    Json::Value toJson() const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::deque<Json::Value> entries_;
    uint64_t sequence_ = 0;
};

}  // namespace localservice
