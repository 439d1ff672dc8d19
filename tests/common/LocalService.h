#pragma once
#include <json/json.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace nimbex_test {

// The URLs of one service of a running local signature service.
struct LocalServiceUrls {
    std::string name;
    int apiVersion = 0;
    std::string auth;      // auth server URL
    std::string sign;      // sign server URL
    std::string docstore;  // document store URL, empty when the service has none
    std::string resource;  // the sign server's resource URN
};

// A fault for the next requests of the service port.
struct LocalServiceFault {
    unsigned count = 1;  // how many requests it affects
    int status = 0;      // answer with this HTTP status and body
    std::string body;
    bool drop = false;         // close the connection without a complete answer
    unsigned delayMs = 0;      // wait before answering
    std::string pathContains;  // only requests whose path and query contain this
};

// Starts nimbex-localservice on free loopback ports with a fresh state directory and stops it
// (SIGTERM, then wait) when destroyed. The built-in configuration has the user "demo" with the
// password "demo-password", an RSA key (id 1) and an EC key (id 2) with the PIN "1234", and the
// services "local-v2" (API version 2 with a document store) and "local-v1" (API version 1).
class LocalService {
  public:
    // configJson: a configuration document (empty: the built-in default);
    // http: serve plain HTTP instead of HTTPS.
    explicit LocalService(const std::string& configJson = "", bool http = false);
    ~LocalService();
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    const std::map<std::string, LocalServiceUrls>& services() const { return services_; }
    // The service of that name; throws std::out_of_range when there is none.
    const LocalServiceUrls& service(const std::string& name) const { return services_.at(name); }
    const std::string& discoveryUrl() const { return discovery_; }
    const std::string& caFile() const { return caFile_; }
    const std::string& stateDir() const { return stateDir_; }
    const Json::Value& readyLine() const { return ready_; }

    // Paths of the built programs.
    static std::string servicePath();
    static std::string authAppPath();

    // Every request the service port received since the start or the last reset:
    // [{"seq", "method", "target", "path", "headers": {lower-case name: value}, "body" or
    //   "bodyBase64", "bodySize", "bodyTruncated", "fault"?}].
    Json::Value requestLog() const;
    // Clears the request log and the pending faults.
    void reset() const;
    // Drops tokens, sessions, pending operations and documents and restores PINs.
    void resetState() const;
    void injectFault(const LocalServiceFault& fault) const;
    // Changes run-time settings (see docs/localservice.md); returns the settings now in force.
    Json::Value configure(const Json::Value& settings) const;
    // Makes tokens of a kind ("access", "id", "conf" or "all") expire at once.
    void expireTokens(const std::string& kind = "all") const;

    // Stops the service now (also done by the destructor); returns its exit status.
    int stop();

  private:
    Json::Value admin(const std::string& method, const std::string& path,
                      const Json::Value* body) const;

    std::string root_;
    std::string stateDir_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
    Json::Value ready_;
    std::map<std::string, LocalServiceUrls> services_;
    std::string discovery_, caFile_, admin_;
};

// JSON text as a value (null when it is not JSON), and a value as JSON text on one line.
Json::Value JsonOf(const std::string& text);
std::string CompactJson(const Json::Value& value);

// A minimal libcurl request for tests: loopback only, bounded in time.
struct HttpResult {
    long status = 0;  // 0 when the transfer failed
    std::string body;
    std::map<std::string, std::string> headers;  // lower-case names
};
HttpResult httpRequest(const std::string& method, const std::string& url,
                       const std::vector<std::string>& headers = {}, const std::string& body = "",
                       const std::string& caFile = "", long timeoutSeconds = 60);

}  // namespace nimbex_test
