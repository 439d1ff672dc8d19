#pragma once
#include "HttpTypes.h"
#include "ServiceContext.h"

namespace localservice {

// The sign server of one service: "/rest/api/..." relative to the sign server's base.
class SignEndpoints {
  public:
    explicit SignEndpoints(ServiceContext& ctx) : ctx_(ctx) {}
    void handle(const ServiceEntry& svc, const std::string& path, const HttpRequest& req,
                HttpResponse& res);

  private:
    struct Call;
    void route(Call& c, const std::vector<std::string>& segs);
    void policy(Call& c);
    void certificates(Call& c);
    void signV1(Call& c);
    void signV2(Call& c);
    void transaction(Call& c);
    void agree(Call& c);
    void generate(Call& c);
    void deleteCertificate(Call& c, uint32_t id);
    void changePin(Call& c, uint32_t id);
    void validatePin(Call& c, uint32_t id);
    void keyParams(Call& c, uint32_t id);
    void installCertificate(Call& c);
    void importPfx(Call& c);

    // API version 1: a confirmed transaction bound to the token, or a refusal when the policy
    // wants one and there is none. True with the transaction when one is used.
    bool takeTransaction(Call& c, const std::string& action, Json::Value& tx, bool required);
    // "v2/": false when the request may run now; true when it has been answered with a pending
    // operation that waits for confirmation.
    bool holdForConfirmation(Call& c, const std::string& action);
    // An action on one certificate: held as above ("v2/"), or checked against the confirmed
    // transaction, which must name that certificate (API version 1).
    bool holdCertificateAction(Call& c, const std::string& action, uint32_t id);
    void answer(Call& c, const Json::Value& result);

    ServiceContext& ctx_;
};

}  // namespace localservice
