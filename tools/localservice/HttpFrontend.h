#pragma once
#include <memory>
#include <string>

#include "ServiceApp.h"

namespace localservice {

// The HTTP(S) servers: the service port (HTTPS unless plain HTTP is asked for) and the
// plain-HTTP admin port, both on 127.0.0.1. Logs requests, applies injected faults, streams
// document uploads to disk and downloads from disk.
class HttpFrontend {
  public:
    HttpFrontend(ServiceApp& app, bool https, const std::string& certPath,
                 const std::string& keyPath);
    ~HttpFrontend();
    bool valid() const;
    // Bind to the port, or to a free one for 0. The bound port, or -1.
    int bindService(int port);
    int bindAdmin(int port);
    void start();
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace localservice
