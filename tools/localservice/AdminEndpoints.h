#pragma once
#include "HttpTypes.h"
#include "ServiceContext.h"

namespace localservice {

// Test control on the loopback admin port: request log, reset, faults, run-time configuration
// and token expiry.
class AdminEndpoints {
  public:
    AdminEndpoints(ServiceContext& ctx, Json::Value info) : ctx_(ctx), info_(std::move(info)) {}
    void handle(const HttpRequest& req, HttpResponse& res);

  private:
    ServiceContext& ctx_;
    Json::Value info_;
};

}  // namespace localservice
