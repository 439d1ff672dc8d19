#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace transport_test {

// What the server saw of one request.
struct SeenRequest {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> headers;
    std::string body;
    int remotePort = -1;
};

// An HTTP or HTTPS server on a loopback address (free port) in its own thread,
// for the lifetime of the object. Paths:
//   /answer        answers with the status and body set by SetAnswer
//   /sleep         waits 1.5 s, then answers 200 "late"
//   /redirect/same 302 to /answer on the same server
//   /redirect/loop 307 to itself
//   anything else  200 "ok"
// Every request is recorded.
class TestServer {
  public:
    // HTTPS with the certificate and key of these PEM files (plain HTTP without them), on
    // `host` (127.0.0.1 or another address of the loopback network, e.g. one its certificate
    // does not name).
    explicit TestServer(const std::string& certFile = "", const std::string& keyFile = "",
                        const std::string& host = "127.0.0.1");
    ~TestServer();

    int port() const { return port_; }
    std::string Url(const std::string& path) const;
    void SetAnswer(int status, const std::string& body);
    std::vector<SeenRequest> Seen() const;
    void ClearSeen();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool tls_;
    std::string host_ = "127.0.0.1";
    int port_ = -1;
};

}  // namespace transport_test
