#include "SignEndpoints.h"

#include <strings.h>

#include <set>

#include "Codec.h"
#include "KeyStore.h"
#include "ServiceError.h"

namespace localservice {

struct SignEndpoints::Call {
    const ServiceEntry& svc;
    const HttpRequest& req;
    HttpResponse& res;
    TokenIssuer::Access access;
    RuntimeSettings rt;
    bool v2 = false;
    Json::Value body;  // parsed JSON body, when the endpoint takes one

    bool mfa(const std::string& action) const {
        auto it = rt.mfa.find(action);
        return it != rt.mfa.end() && it->second;
    }
};

namespace {

const char* const kActions[] = {"SignDocument", "PrivateKeyAccess", "CreateRequest",
                                "DeleteCertificate", "ChangePin"};

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (true) {
        size_t slash = s.find('/', pos);
        out.push_back(s.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos));
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    return out;
}

uint32_t parseId(const std::string& s) {
    uint32_t id = 0;
    if (!parseUInt32(s, id)) throw ServiceError("invalid_request", "Bad certificate id", 400);
    return id;
}

void requireJsonObject(const HttpRequest& req, Json::Value& out) {
    if (req.body.empty()) throw ServiceError("content_required", "The request has no body");
    if (!parseJson(req.body, out) || !out.isObject())
        throw ServiceError("invalid_request", "The body is not a JSON object");
}

std::string stringMember(const Json::Value& v, const char* name, bool required) {
    if (!v.isMember(name)) {
        if (required) throw ServiceError("invalid_request", std::string("Missing ") + name);
        return {};
    }
    if (!v[name].isString())
        throw ServiceError("invalid_request", std::string(name) + " must be a string");
    return v[name].asString();
}

uint32_t uintMember(const Json::Value& v, const char* name) {
    if (!v.isMember(name) || !v[name].isUInt())
        throw ServiceError("invalid_request", std::string(name) + " must be an unsigned integer");
    return v[name].asUInt();
}

Bytes base64Member(const Json::Value& v, const char* name, bool required) {
    std::string text = stringMember(v, name, required);
    Bytes out;
    if (!base64Decode(text, out))
        throw ServiceError("invalid_request", std::string(name) + " is not Base64");
    return out;
}

// The PIN of a "Signature" object: absent, or a string.
std::string pinOf(const Json::Value& sig) {
    if (!sig.isObject() || !sig.isMember("PinCode")) return {};
    if (!sig["PinCode"].isString())
        throw ServiceError("invalid_request", "PinCode must be a string");
    return sig["PinCode"].asString();
}

void checkSignatureType(const Json::Value& sig) {
    if (!sig["Type"].isInt() || sig["Type"].asInt() != 1)
        throw ServiceError("invalid_signature_type", "Only signature type 1 is supported");
}

// "Parameters": null or {"Hash": "True", "HashAlgorithm": n}.
void signatureParams(const Json::Value& sig, bool& isHash, uint32_t& alg) {
    isHash = false;
    alg = 0;
    if (!sig.isMember("Parameters") || sig["Parameters"].isNull()) return;
    const Json::Value& p = sig["Parameters"];
    if (!p.isObject())
        throw ServiceError("invalid_signature_params", "Parameters must be an object");
    if (p.isMember("Hash")) {
        if (!p["Hash"].isString())
            throw ServiceError("invalid_signature_params", "Hash must be a string");
        isHash = strcasecmp(p["Hash"].asCString(), "true") == 0;
    }
    if (p.isMember("HashAlgorithm")) {
        if (!p["HashAlgorithm"].isUInt())
            throw ServiceError("invalid_signature_params",
                               "HashAlgorithm must be an unsigned integer");
        alg = p["HashAlgorithm"].asUInt();
    }
}

std::string txParam(const Json::Value& tx, const std::string& name) {
    std::string v;
    transactionParam(tx, name, v);
    return v;
}

}  // namespace

void SignEndpoints::handle(const ServiceEntry& svc, const std::string& path, const HttpRequest& req,
                           HttpResponse& res) {
    const std::string prefix = "/rest/api/";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return res.error(404, "invalid_request", "No such sign server endpoint");
    std::vector<std::string> segs = split(path.substr(prefix.size()));
    if (segs.size() == 1 && segs[0] == "apiversion" && req.method == "GET")
        return res.text(std::to_string(svc.apiVersion));
    Call c{svc, req, res, {}, ctx_.runtime(), false, {}};
    std::string h = req.header("Authorization");
    if (strncasecmp(h.c_str(), "Bearer ", 7) != 0 ||
        !ctx_.tokens().checkAccess(h.substr(7), svc.name, c.access)) {
        res.headers.push_back({"WWW-Authenticate", "Bearer error=\"invalid_token\""});
        return res.error(401, "invalid_token", "A valid access token is required");
    }
    if (segs[0] == "v2") {
        if (svc.apiVersion < 2)
            return res.error(404, "invalid_request", "This service has API version 1");
        c.v2 = true;
        segs.erase(segs.begin());
    }
    try {
        route(c, segs);
    } catch (const ServiceError& e) {
        if (c.v2) {
            Json::Value v;
            v["Operation"]["Id"] = randomId("op-", 12);
            v["Operation"]["Status"] = "Error";
            v["Operation"]["Error"] = e.error();
            v["Operation"]["ErrorDescription"] = e.what();
            res.json(v);
        } else {
            res.error(e.status(), e.error(), e.what());
        }
    }
}

void SignEndpoints::route(Call& c, const std::vector<std::string>& s) {
    const std::string& m = c.req.method;
    size_t n = s.size();
    if (c.v2) {
        if (n == 1 && s[0] == "signature" && m == "POST") return signV2(c);
        if (n == 2 && s[0] == "keys" && s[1] == "agree" && m == "POST") return agree(c);
        if (n == 2 && s[0] == "keys" && s[1] == "generate" && m == "POST") return generate(c);
        if (n == 2 && s[0] == "certificates" && m == "DELETE")
            return deleteCertificate(c, parseId(s[1]));
        if (n == 3 && s[0] == "certificates" && s[2] == "pin" && m == "POST")
            return changePin(c, parseId(s[1]));
        throw ServiceError("invalid_request", "No such endpoint", 404);
    }
    if (n == 1 && s[0] == "policy" && m == "GET") return policy(c);
    if (s[0] == "certificates") {
        if (n == 1 && m == "GET") return certificates(c);
        if ((n == 1 || (n == 2 && s[1].empty())) && m == "POST") return installCertificate(c);
        if (n == 2 && s[1] == "pfx" && m == "POST") return importPfx(c);
        if (n == 2 && m == "GET") {
            c.res.json(ctx_.keys().record(c.access.user, parseId(s[1])));
            return;
        }
        if (n == 2 && m == "DELETE") return deleteCertificate(c, parseId(s[1]));
        if (n == 3 && s[2] == "pin" && m == "POST") return changePin(c, parseId(s[1]));
        if (n == 4 && s[2] == "pin" && s[3] == "validate" && m == "POST")
            return validatePin(c, parseId(s[1]));
    }
    if (n == 1 && s[0] == "documents" && m == "POST") return signV1(c);
    if (n == 1 && s[0] == "transactions" && m == "POST") return transaction(c);
    if (n == 2 && s[0] == "keys" && s[1] == "agree" && m == "POST") return agree(c);
    if (n == 2 && s[0] == "keys" && s[1] == "generate" && m == "POST") return generate(c);
    if (n == 3 && s[0] == "keys" && s[2] == "params" && (m == "GET" || m == "POST"))
        return keyParams(c, parseId(s[1]));
    throw ServiceError("invalid_request", "No such endpoint", 404);
}

void SignEndpoints::answer(Call& c, const Json::Value& result) {
    if (!c.v2) {
        if (result.isNull())
            c.res.text("", "application/json; charset=utf-8");
        else
            c.res.json(result);
        return;
    }
    Json::Value v;
    v["Operation"]["Id"] = c.access.boundRef.empty() ? randomId("op-", 12) : c.access.boundRef;
    v["Operation"]["Status"] = "Completed";
    v["Operation"]["Result"] = result.isNull() ? Json::Value(Json::objectValue) : result;
    c.res.json(v);
}

bool SignEndpoints::takeTransaction(Call& c, const std::string& action, Json::Value& tx,
                                    bool required) {
    if (!c.access.boundRef.empty() &&
        ctx_.operations().useTransaction(c.access.boundRef, c.access.user, c.svc.name, action, tx))
        return true;
    if (required)
        throw ServiceError("invalid_transaction",
                           "The operation " + action + " needs a confirmed transaction");
    return false;
}

bool SignEndpoints::holdCertificateAction(Call& c, const std::string& action, uint32_t id) {
    if (c.v2) return holdForConfirmation(c, action);
    Json::Value tx;
    if (takeTransaction(c, action, tx, c.mfa(action)) &&
        txParam(tx, "CertificateID") != std::to_string(id))
        throw ServiceError("invalid_transaction", "The transaction names another certificate");
    return false;
}

bool SignEndpoints::holdForConfirmation(Call& c, const std::string& action) {
    if (!c.mfa(action)) return false;
    if (!c.access.boundRef.empty() &&
        ctx_.operations().usePending(c.access.boundRef, c.access.user, c.svc.name, action,
                                     c.req.method, c.req.target, c.req.body))
        return false;
    Json::Value v;
    v["Operation"]["Id"] = ctx_.operations().createPending(c.access.user, c.svc.name, action,
                                                           c.req.method, c.req.target, c.req.body);
    v["Operation"]["Status"] = "Pending";
    v["Operation"]["Action"] = action;
    c.res.json(v);
    return true;
}

void SignEndpoints::policy(Call& c) {
    Json::Value v;
    v["CSPsPolicy"] = c.rt.providers;
    Json::Value actions(Json::arrayValue);
    for (const auto& m : c.rt.mfa) {
        Json::Value a;
        a["Action"] = m.first;
        a["MfaRequired"] = m.second;
        actions.append(a);
    }
    v["ActionPolicy"] = actions;
    c.res.json(v);
}

void SignEndpoints::certificates(Call& c) {
    if (!c.req.hasParam("thumbprint")) return c.res.json(ctx_.keys().list(c.access.user));
    // URL-safe Base64 of the SHA-1 thumbprint, padding kept or not.
    Bytes thumb;
    if (!base64UrlDecode(c.req.param("thumbprint"), thumb) || thumb.size() != 20)
        throw ServiceError("invalid_request", "The thumbprint is not a URL-safe Base64 SHA-1 hash");
    c.res.json(ctx_.keys().listByThumbprint(c.access.user, thumb));
}

void SignEndpoints::signV1(Call& c) {
    requireJsonObject(c.req, c.body);
    const Json::Value& sig = c.body["Signature"];
    if (!sig.isNull() && !sig.isObject())
        throw ServiceError("invalid_request", "Signature must be an object");
    std::string pin = pinOf(sig);
    Bytes signature;
    Json::Value tx;
    if (!c.body.isMember("Content")) {
        // The short form: the data travelled in a confirmed transaction.
        takeTransaction(c, "SignDocument", tx, true);
        uint32_t id = 0, alg = 0;
        if (!parseUInt32(txParam(tx, "CertificateID"), id))
            throw ServiceError("invalid_request", "The transaction names no certificate");
        std::string algText = txParam(tx, "HashAlgorithm");
        if (!algText.empty() && !parseUInt32(algText, alg))
            throw ServiceError("invalid_hash_alg", "Bad HashAlgorithm");
        Bytes data = base64Member(tx, "Document", false);
        if (data.empty()) throw ServiceError("content_required", "The transaction has no document");
        signature = strcasecmp(txParam(tx, "Hash").c_str(), "true") == 0
                        ? ctx_.keys().signHash(c.access.user, id, pin, data, alg)
                        : ctx_.keys().signDocument(c.access.user, id, pin, data, alg);
    } else {
        if (c.mfa("SignDocument"))
            throw ServiceError("invalid_transaction", "Signing needs a confirmed transaction");
        if (!sig.isObject()) throw ServiceError("invalid_request", "Signature is missing");
        checkSignatureType(sig);
        uint32_t id = uintMember(sig, "CertificateId");
        bool isHash = false;
        uint32_t alg = 0;
        signatureParams(sig, isHash, alg);
        Bytes data = base64Member(c.body, "Content", true);
        if (data.empty()) throw ServiceError("content_required", "Content is empty");
        signature = isHash ? ctx_.keys().signHash(c.access.user, id, pin, data, alg)
                           : ctx_.keys().signDocument(c.access.user, id, pin, data, alg);
    }
    c.res.json(Json::Value(base64Encode(signature)));
}

void SignEndpoints::signV2(Call& c) {
    requireJsonObject(c.req, c.body);
    const Json::Value& sig = c.body["Signature"];
    if (!sig.isObject()) throw ServiceError("invalid_request", "Signature is missing");
    checkSignatureType(sig);
    uint32_t id = uintMember(sig, "CertificateId");
    bool isHash = false;
    uint32_t alg = 0;
    signatureParams(sig, isHash, alg);
    std::string pin = pinOf(sig);
    const Json::Value& docs = c.body["BinaryData"];
    if (!docs.isArray() || docs.empty())
        throw ServiceError("content_required", "BinaryData is empty");
    ctx_.keys().record(c.access.user, id);  // unknown certificates are refused before confirmation
    std::vector<std::string> refs;
    for (const auto& d : docs) {
        if (!d.isObject())
            throw ServiceError("invalid_request", "A BinaryData element is not an object");
        std::string ref = stringMember(d, "RefId", true);
        DocumentStore::Document doc;
        if (!ctx_.documents().find(ref, c.access.user, c.svc.name, doc))
            throw ServiceError("invalid_request", "Unknown document " + ref);
        std::string related = stringMember(d, "RelatedRefId", false);
        if (!related.empty() && !ctx_.documents().find(related, c.access.user, c.svc.name, doc))
            throw ServiceError("invalid_request", "Unknown document " + related);
        refs.push_back(ref);
    }
    if (holdForConfirmation(c, "SignDocument")) return;
    Json::Value processed(Json::arrayValue);
    for (const auto& ref : refs) {
        Bytes signature;
        if (isHash) {
            Bytes hash;
            if (!ctx_.documents().read(ref, c.access.user, c.svc.name, 64, hash))
                throw ServiceError("invalid_signature_params",
                                   "A hash document is longer than 64 bytes");
            signature = ctx_.keys().signHash(c.access.user, id, pin, hash, alg);
        } else {
            uint32_t used = 0;
            const EVP_MD* md = ctx_.keys().documentHash(c.access.user, id, alg, used);
            if (!md) throw ServiceError("invalid_hash_alg", "Unknown hash algorithm");
            Bytes hash;
            ctx_.documents().digest(ref, c.access.user, c.svc.name, md, hash);
            signature = ctx_.keys().signDigest(c.access.user, id, pin, hash, used);
        }
        Json::Value e;
        e["RefId"] = ctx_.documents().addBytes(signature, c.access.user, c.svc.name);
        e["SourceRefId"] = ref;
        processed.append(e);
    }
    Json::Value result;
    result["ProcessedDocuments"] = processed;
    answer(c, result);
}

void SignEndpoints::transaction(Call& c) {
    requireJsonObject(c.req, c.body);
    std::string code = stringMember(c.body, "OperationCode", true);
    bool known = false;
    for (const char* a : kActions) known = known || code == a;
    if (!known) throw ServiceError("invalid_request", "Unknown OperationCode " + code);
    const Json::Value& params = c.body["Parameters"];
    if (!params.isArray()) throw ServiceError("invalid_request", "Parameters must be an array");
    for (const auto& p : params)
        if (!p.isObject() || !p["Name"].isString() || !p["Value"].isString())
            throw ServiceError("invalid_request", "Parameters are {\"Name\", \"Value\"} strings");
    if (c.body.isMember("Document")) base64Member(c.body, "Document", true);
    std::string certText = txParam(c.body, "CertificateID");
    uint32_t id = 0;
    if (code != "CreateRequest") {
        if (!parseUInt32(certText, id))
            throw ServiceError("invalid_request", "CertificateID is missing");
        ctx_.keys().record(c.access.user, id);
    }
    if (code == "SignDocument" && !c.body.isMember("Document"))
        throw ServiceError("content_required", "A signing transaction needs its Document");
    c.res.json(Json::Value(ctx_.operations().createTransaction(c.access.user, c.svc.name, c.body)));
}

void SignEndpoints::agree(Call& c) {
    requireJsonObject(c.req, c.body);
    std::string pkiText = stringMember(c.body, "PublicKeyInfo", true);
    std::string ukmText = stringMember(c.body, "Ukm", true);
    std::string maskText = stringMember(c.body, "Mask", true);
    Bytes peer = base64Member(c.body, "PublicKeyInfo", true);
    Bytes ukm = base64Member(c.body, "Ukm", true);
    Bytes mask = base64Member(c.body, "Mask", true);
    uint32_t id = uintMember(c.body, "CertificateId");
    std::string pin = stringMember(c.body, "PinCode", false);
    uint32_t vko = 0;
    if (c.body.isMember("VkoAlgid")) {
        vko = uintMember(c.body, "VkoAlgid");
        if (vko != kVkoLongForm) throw ServiceError("invalid_request", "Unknown VkoAlgid");
        if (c.svc.apiVersion < 2)
            throw ServiceError("invalid_request", "The long form needs API version 2");
    }
    ctx_.keys().record(c.access.user, id);
    if (c.v2) {
        if (holdForConfirmation(c, "PrivateKeyAccess")) return;
    } else {
        Json::Value tx;
        if (takeTransaction(c, "PrivateKeyAccess", tx, c.mfa("PrivateKeyAccess"))) {
            std::string vkoText = txParam(tx, "VkoAlgId");
            if (txParam(tx, "CertificateID") != std::to_string(id) ||
                txParam(tx, "PublicKeyInfo") != pkiText || txParam(tx, "UKM") != ukmText ||
                txParam(tx, "Mask") != maskText || vkoText != (vko ? std::to_string(vko) : ""))
                throw ServiceError("invalid_transaction",
                                   "The request differs from the confirmed transaction");
        }
    }
    Bytes key = ctx_.keys().agree(c.access.user, id, pin, peer, ukm, mask, vko);
    answer(c, Json::Value(base64Encode(key)));
}

void SignEndpoints::generate(Call& c) {
    requireJsonObject(c.req, c.body);
    std::string algText = stringMember(c.body, "AlgId", true);
    std::string oid = stringMember(c.body, "ParametersOid", true);
    std::string pin = stringMember(c.body, "PinCode", true);
    std::string lengthText = stringMember(c.body, "KeyLength", false);
    uint32_t alg = 0, length = 0;
    if (!parseUInt32(algText, alg))
        throw ServiceError("invalid_request", "AlgId is not a decimal number");
    if (c.body.isMember("KeyLength") && !parseUInt32(lengthText, length))
        throw ServiceError("invalid_request", "KeyLength is not a decimal number");
    bool supported = false;
    for (const auto& p : c.rt.providers)
        for (const auto& s : p["SupportedParamSets"])
            supported = supported || (s.isString() && s.asString() == oid);
    if (!supported) throw ServiceError("invalid_request", "The policy does not offer " + oid);
    if (c.v2) {
        if (holdForConfirmation(c, "CreateRequest")) return;
    } else {
        Json::Value tx;
        if (takeTransaction(c, "CreateRequest", tx, c.mfa("CreateRequest"))) {
            if (txParam(tx, "AlgId") != algText || txParam(tx, "ParamSetOid") != oid ||
                txParam(tx, "KeyLength") != lengthText)
                throw ServiceError("invalid_transaction",
                                   "The request differs from the confirmed transaction");
        }
    }
    answer(c, ctx_.keys().generate(c.access.user, oid, length, pin, c.rt.pinAttempts));
}

void SignEndpoints::deleteCertificate(Call& c, uint32_t id) {
    if (!c.req.body.empty()) throw ServiceError("invalid_request", "A deletion has no body");
    ctx_.keys().record(c.access.user, id);
    if (holdCertificateAction(c, "DeleteCertificate", id)) return;
    ctx_.keys().remove(c.access.user, id);
    answer(c, Json::Value());
}

void SignEndpoints::changePin(Call& c, uint32_t id) {
    requireJsonObject(c.req, c.body);
    std::string oldPin = stringMember(c.body, "OldPin", true);
    std::string newPin = stringMember(c.body, "NewPin", true);
    if (stringMember(c.body, "ConfirmedPin", true) != newPin)
        throw ServiceError("invalid_request", "ConfirmedPin differs from NewPin");
    ctx_.keys().record(c.access.user, id);
    if (holdCertificateAction(c, "ChangePin", id)) return;
    ctx_.keys().changePin(c.access.user, id, oldPin, newPin);
    answer(c, Json::Value());
}

void SignEndpoints::validatePin(Call& c, uint32_t id) {
    // The body is "=" followed by the percent-encoded PIN, whatever the content type says.
    const std::string& b = c.req.body;
    if (b.empty() || b[0] != '=')
        throw ServiceError("invalid_request", "The body is \"=\" and the PIN");
    KeyStore::PinCheck check =
        ctx_.keys().validatePin(c.access.user, id, percentDecode(b.substr(1), true));
    if (c.req.param("returnAttempts") != "true") return c.res.json(Json::Value(check.valid));
    Json::Value v;
    v["IsValid"] = check.valid;
    v["Remaining"] = check.remaining;
    v["ErrorDescription"] = check.error;
    c.res.json(v);
}

void SignEndpoints::keyParams(Call& c, uint32_t id) {
    if (c.req.method == "GET") {
        if (!c.req.hasParam("param"))
            throw ServiceError("invalid_request", "The param query is missing");
        c.res.json(Json::Value(ctx_.keys().getParam(c.access.user, id, c.req.param("param"))));
        return;
    }
    requireJsonObject(c.req, c.body);
    std::string name = stringMember(c.body, "Param", true);
    std::string data = stringMember(c.body, "Data", true);
    if (name.empty()) throw ServiceError("invalid_request", "Param is empty");
    ctx_.keys().setParam(c.access.user, id, name, data);
    c.res.text("", "application/json; charset=utf-8");
}

void SignEndpoints::installCertificate(Call& c) {
    requireJsonObject(c.req, c.body);
    Bytes der = base64Member(c.body, "certificate", true);
    if (der.empty()) throw ServiceError("content_required", "The certificate is empty");
    c.res.json(ctx_.keys().installCertificate(c.access.user, der));
}

void SignEndpoints::importPfx(Call& c) {
    requireJsonObject(c.req, c.body);
    Bytes pfx = base64Member(c.body, "Pfx", true);
    std::string password = stringMember(c.body, "Password", true);
    if (pfx.empty()) throw ServiceError("content_required", "The PFX is empty");
    c.res.json(ctx_.keys().importPfx(c.access.user, pfx, password, c.rt.pinAttempts));
}

}  // namespace localservice
