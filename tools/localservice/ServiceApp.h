#pragma once
#include <memory>

#include "AdminEndpoints.h"
#include "AuthEndpoints.h"
#include "DocumentEndpoints.h"
#include "HttpTypes.h"
#include "ServiceContext.h"
#include "SignEndpoints.h"

namespace localservice {

// Routes a request of the service port to the service and server it names by its first
// path segment, and serves the discovery document.
class ServiceApp {
  public:
    explicit ServiceApp(ServiceContext& ctx);
    void setAdmin(std::unique_ptr<AdminEndpoints> admin) { admin_ = std::move(admin); }

    void handleService(const HttpRequest& req, HttpResponse& res);
    void handleAdmin(const HttpRequest& req, HttpResponse& res);
    // True for document uploads, whose bodies go to disk instead of memory.
    bool streamsBody(const std::string& path) const;
    Json::Value discoveryDocument() const;
    ServiceContext& context() { return ctx_; }

  private:
    ServiceContext& ctx_;
    AuthEndpoints auth_;
    SignEndpoints sign_;
    DocumentEndpoints docs_;
    std::unique_ptr<AdminEndpoints> admin_;
};

}  // namespace localservice
