#include "AdminEndpoints.h"

#include "Codec.h"

namespace localservice {

void AdminEndpoints::handle(const HttpRequest& req, HttpResponse& res) {
    const std::string& p = req.path;
    const std::string& m = req.method;
    Json::Value body;
    bool hasBody = !req.body.empty();
    if (hasBody && !parseJson(req.body, body))
        return res.error(400, "invalid_request", "The body is not JSON");
    Json::Value ok;
    ok["ok"] = true;
    if (p == "/admin/info" && m == "GET") return res.json(info_);
    if (p == "/admin/requests" && m == "GET") return res.json(ctx_.log().toJson());
    if (p == "/admin/reset" && m == "POST") {
        ctx_.log().clear();
        ctx_.faults().clear();
        return res.json(ok);
    }
    if (p == "/admin/reset-state" && m == "POST") {
        ctx_.resetState();
        return res.json(ok);
    }
    if (p == "/admin/faults" && m == "GET") return res.json(ctx_.faults().toJson());
    if (p == "/admin/faults" && m == "POST") {
        std::string message;
        if (body.isArray()) {
            for (const auto& f : body)
                if (!ctx_.faults().add(f, message))
                    return res.error(400, "invalid_request", message);
        } else if (!ctx_.faults().add(body, message)) {
            return res.error(400, "invalid_request", message);
        }
        return res.json(ok);
    }
    if (p == "/admin/config" && m == "GET")
        return res.json(ServiceConfig::runtimeToJson(ctx_.runtime()));
    if (p == "/admin/config" && m == "POST") {
        std::string message;
        if (!ctx_.configure(body, message)) return res.error(400, "invalid_request", message);
        return res.json(ServiceConfig::runtimeToJson(ctx_.runtime()));
    }
    if (p == "/admin/expire-tokens" && m == "POST") {
        std::string kind =
            body.isObject() && body["kind"].isString() ? body["kind"].asString() : "all";
        if (!ctx_.tokens().expire(kind))
            return res.error(400, "invalid_request", "kind is access, id, conf or all");
        return res.json(ok);
    }
    res.error(404, "invalid_request", "No such admin endpoint");
}

}  // namespace localservice
