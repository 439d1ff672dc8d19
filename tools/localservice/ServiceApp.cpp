#include "ServiceApp.h"

#include "MessageSignature.h"

namespace localservice {

namespace {
const char kDiscoveryPath[] = "/.well-known/kel-configuration/services.json";

bool isSignedEndpoint(const std::string& rest) {
    return rest == "/rest/api/documents" || rest == "/rest/api/transactions" ||
           rest == "/rest/api/v2/signature";
}
}  // namespace

ServiceApp::ServiceApp(ServiceContext& ctx) : ctx_(ctx), auth_(ctx), sign_(ctx), docs_(ctx) {}

Json::Value ServiceApp::discoveryDocument() const {
    Json::Value out(Json::arrayValue);
    for (const auto& s : ctx_.config().services) {
        Json::Value e;
        e["iscloudsupported"] = true;
        e["cloud"]["idpaddress"] = ctx_.authUrl(s);
        e["cloud"]["ssaddress"] = ctx_.signUrl(s);
        e["cloud"]["istest"] = s.isTest;
        if (s.documentStore) e["cloud"]["docaddress"] = ctx_.docsUrl(s);
        if (!s.description.empty()) e["cloud"]["description"] = s.description;
        out.append(e);
    }
    return out;
}

bool ServiceApp::streamsBody(const std::string& path) const {
    for (const auto& s : ctx_.config().services)
        if (s.documentStore && path == "/" + s.docsSegment() + "/api/documents") return true;
    return false;
}

void ServiceApp::handleService(const HttpRequest& req, HttpResponse& res) {
    if (req.path == kDiscoveryPath) {
        if (req.method != "GET") return res.error(405, "invalid_request", "Use GET");
        return res.json(discoveryDocument());
    }
    size_t end = req.path.find('/', 1);
    std::string segment =
        req.path.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    std::string rest = end == std::string::npos ? std::string() : req.path.substr(end);
    for (const auto& s : ctx_.config().services) {
        bool sign = segment == s.name;
        bool auth = segment == s.authSegment();
        bool docs = s.documentStore && segment == s.docsSegment();
        if (!sign && !auth && !docs) continue;
        if (req.hasHeader("VL-Signature")) {
            std::string reason;
            if (!verifyMessageSignature(req, reason))
                return res.error(400, "invalid_http_message_signature", reason);
        } else if (sign && isSignedEndpoint(rest) && ctx_.runtime().requireMessageSignature) {
            return res.error(400, "invalid_http_message_signature", "The request is not signed");
        }
        if (sign) return sign_.handle(s, rest, req, res);
        if (auth) return auth_.handle(s, rest, req, res);
        return docs_.handle(s, rest, req, res);
    }
    res.error(404, "invalid_request", "No service at this path");
}

void ServiceApp::handleAdmin(const HttpRequest& req, HttpResponse& res) {
    if (admin_) return admin_->handle(req, res);
    res.error(503, "internal_error", "The admin interface is not ready");
}

}  // namespace localservice
