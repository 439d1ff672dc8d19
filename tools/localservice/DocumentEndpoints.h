#pragma once
#include "HttpTypes.h"
#include "ServiceContext.h"

namespace localservice {

// The document store of one service: "/api/documents" relative to its base.
class DocumentEndpoints {
  public:
    static constexpr uint64_t kSmallFileLimit = 10485760;  // below this an upload is "SmallFile"

    explicit DocumentEndpoints(ServiceContext& ctx) : ctx_(ctx) {}
    void handle(const ServiceEntry& svc, const std::string& path, const HttpRequest& req,
                HttpResponse& res);

  private:
    void upload(const ServiceEntry& svc, const std::string& user, const HttpRequest& req,
                HttpResponse& res);
    ServiceContext& ctx_;
};

}  // namespace localservice
