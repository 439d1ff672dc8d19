#include "DocumentEndpoints.h"

#include <strings.h>

#include "Codec.h"

namespace localservice {

void DocumentEndpoints::handle(const ServiceEntry& svc, const std::string& path,
                               const HttpRequest& req, HttpResponse& res) {
    TokenIssuer::Access access;
    std::string h = req.header("Authorization");
    if (strncasecmp(h.c_str(), "Bearer ", 7) != 0 ||
        !ctx_.tokens().checkAccess(h.substr(7), svc.name, access)) {
        res.headers.push_back({"WWW-Authenticate", "Bearer error=\"invalid_token\""});
        return res.error(401, "invalid_token", "A valid access token is required");
    }
    const std::string prefix = "/api/documents";
    if (path == prefix && req.method == "POST") return upload(svc, access.user, req, res);
    if (path.compare(0, prefix.size() + 1, prefix + "/") != 0)
        return res.error(404, "invalid_request", "No such document store endpoint");
    std::string rest = path.substr(prefix.size() + 1);
    const std::string contentSuffix = "/content";
    DocumentStore::Document doc;
    if (req.method == "GET" && rest.size() > contentSuffix.size() &&
        rest.compare(rest.size() - contentSuffix.size(), contentSuffix.size(), contentSuffix) ==
            0) {
        std::string id = rest.substr(0, rest.size() - contentSuffix.size());
        if (!ctx_.documents().find(id, access.user, svc.name, doc))
            return res.error(404, "invalid_request", "No such document");
        res.status = 200;
        res.contentType = "application/octet-stream";
        res.file = doc.path;
        return;
    }
    if (req.method == "DELETE" && rest.find('/') == std::string::npos) {
        if (!ctx_.documents().remove(rest, access.user, svc.name))
            return res.error(404, "invalid_request", "No such document");
        return res.text("", "application/json; charset=utf-8");
    }
    res.error(404, "invalid_request", "No such document store endpoint");
}

void DocumentEndpoints::upload(const ServiceEntry& svc, const std::string& user,
                               const HttpRequest& req, HttpResponse& res) {
    if (!req.hasHeader("VLKEL-POSTDOC"))
        return res.error(400, "invalid_request", "The VLKEL-POSTDOC header is missing");
    Bytes metaBytes;
    Json::Value meta;
    if (!base64Decode(req.header("VLKEL-POSTDOC"), metaBytes) ||
        !parseJson(std::string(metaBytes.begin(), metaBytes.end()), meta) || !meta.isObject())
        return res.error(400, "invalid_request", "VLKEL-POSTDOC is not Base64 of a JSON object");
    if (!meta["Filename"].isString() || !meta["AdditionalInfo"].isObject() ||
        !meta["AdditionalInfo"]["SmallFile"].isBool())
        return res.error(400, "invalid_request",
                         "VLKEL-POSTDOC needs \"Filename\" and \"AdditionalInfo\".\"SmallFile\"");
    if (req.bodySize == 0) return res.error(400, "content_required", "The document is empty");
    if (meta["AdditionalInfo"]["SmallFile"].asBool() != (req.bodySize < kSmallFileLimit))
        return res.error(400, "invalid_request", "\"SmallFile\" does not fit the document size");
    std::string id =
        req.bodyFile.empty()
            ? ctx_.documents().addBytes(Bytes(req.body.begin(), req.body.end()), user, svc.name)
            : ctx_.documents().adopt(req.bodyFile, req.bodySize, user, svc.name);
    if (id.empty()) return res.error(500, "internal_error", "Cannot store the document");
    Json::Value v;
    v["DocumentId"] = id;
    res.json(v);
}

}  // namespace localservice
