#pragma once
#include <json/json.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace localservice {

// Faults for the next requests of the service port: a status with a body, a dropped
// connection, or a delay before normal handling.
class FaultInjector {
  public:
    struct Fault {
        uint32_t remaining = 0;
        std::string pathContains;  // empty matches every request
        int status = 0;            // 0: no status answer
        std::string body;
        std::string contentType = "application/json; charset=utf-8";
        bool drop = false;
        uint32_t delayMs = 0;
    };
    // Parses {"count", "status", "body", "contentType", "drop", "delayMs", "pathContains"}.
    // Returns false with a message for a bad document.
    bool add(const Json::Value& doc, std::string& message);
    // Takes one use of the first fault matching target, when there is one.
    bool take(const std::string& target, Fault& out);
    void clear();
    Json::Value toJson() const;

  private:
    mutable std::mutex mutex_;
    std::deque<Fault> faults_;
};

}  // namespace localservice
