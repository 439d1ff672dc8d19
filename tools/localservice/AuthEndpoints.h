#pragma once
#include "HttpTypes.h"
#include "ServiceContext.h"

namespace localservice {

// The auth server of one service: password grant, silent and interactive authorization,
// operation confirmation and sign-out. Paths are relative to the auth server's base.
class AuthEndpoints {
  public:
    explicit AuthEndpoints(ServiceContext& ctx) : ctx_(ctx) {}
    void handle(const ServiceEntry& svc, const std::string& path, const HttpRequest& req,
                HttpResponse& res);

  private:
    void token(const ServiceEntry& svc, const HttpRequest& req, HttpResponse& res);
    void authorize(const ServiceEntry& svc, const HttpRequest& req, HttpResponse& res);
    void authorizePost(const ServiceEntry& svc, const HttpRequest& req, HttpResponse& res);
    void confirmation(const ServiceEntry& svc, bool v2, const HttpRequest& req, HttpResponse& res);
    void signOut(const ServiceEntry& svc, const HttpRequest& req, HttpResponse& res);

    // Checks the fixed authorization parameters; empty when they are good.
    std::string checkAuthorizeParams(const ServiceEntry& svc,
                                     const std::map<std::string, std::string>& p) const;
    void signInPage(const ServiceEntry& svc, const std::map<std::string, std::string>& p,
                    const std::string& error, HttpResponse& res);
    void formPost(const std::string& redirect,
                  const std::vector<std::pair<std::string, std::string>>& fields,
                  HttpResponse& res);
    Json::Value finalAnswer(const ServiceEntry& svc, const std::string& user,
                            const std::string& reference);

    ServiceContext& ctx_;
};

}  // namespace localservice
