#include "AuthEndpoints.h"

#include <strings.h>

#include "Codec.h"

namespace localservice {

namespace {

const char kClientId[] = "veltra.cloud.csp";
const char kPasswordMethod[] = "http://schemas.veltra.ru/kel/authenticationmethod/password";

std::map<std::string, std::string> queryMap(const HttpRequest& req) {
    std::map<std::string, std::string> out;
    for (const auto& q : req.query) out.emplace(q.first, q.second);
    return out;
}

std::string get(const std::map<std::string, std::string>& m, const std::string& k) {
    auto it = m.find(k);
    return it == m.end() ? std::string() : it->second;
}

// Decodes "Authorization: Basic" into login and password.
bool basicCredentials(const HttpRequest& req, std::string& login, std::string& password) {
    std::string h = req.header("Authorization");
    if (strncasecmp(h.c_str(), "Basic ", 6) != 0) return false;
    Bytes raw;
    if (!base64Decode(h.substr(6), raw)) return false;
    std::string text(raw.begin(), raw.end());
    size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    login = text.substr(0, colon);
    password = text.substr(colon + 1);
    return true;
}

std::string bearer(const HttpRequest& req) {
    std::string h = req.header("Authorization");
    if (strncasecmp(h.c_str(), "Bearer ", 7) != 0) return {};
    return h.substr(7);
}

Json::Value confirmationError(const std::string& error, const std::string& description) {
    Json::Value v;
    v["IsError"] = true;
    v["IsFinal"] = true;
    v["Error"] = error;
    v["ErrorDescription"] = description;
    return v;
}

Json::Value textChallenge(const std::string& refId, const std::string& method) {
    Json::Value v;
    v["IsError"] = false;
    v["IsFinal"] = false;
    Json::Value c;
    c["RefID"] = refId;
    c["AuthnMethod"] = method;
    c["Text"] = "Confirm the operation on your device";
    v["Challenge"]["TextChallenge"].append(c);
    return v;
}

}  // namespace

void AuthEndpoints::handle(const ServiceEntry& svc, const std::string& path, const HttpRequest& req,
                           HttpResponse& res) {
    if (path == "/oauth/token" && req.method == "POST") return token(svc, req, res);
    if (path == "/oauth/authorize" && req.method == "GET") return authorize(svc, req, res);
    if (path == "/oauth/authorize" && req.method == "POST") return authorizePost(svc, req, res);
    if (path == "/confirmation" && req.method == "POST") return confirmation(svc, false, req, res);
    if (path == "/v2.0/confirmation" && req.method == "POST") {
        if (!svc.documentStore)
            return res.error(404, "invalid_request", "This service confirms transactions only");
        return confirmation(svc, true, req, res);
    }
    if (path == "/Authentication/SignOut" && (req.method == "GET" || req.method == "POST"))
        return signOut(svc, req, res);
    res.error(404, "invalid_request", "No such auth server endpoint");
}

void AuthEndpoints::token(const ServiceEntry& svc, const HttpRequest& req, HttpResponse& res) {
    // The body is form-encoded whatever the declared content type.
    auto p = parseForm(req.body);
    if (get(p, "grant_type") != "password")
        return res.error(400, "unsupported_grant_type", "Only the password grant is supported");
    if (get(p, "client_id") != kClientId)
        return res.error(400, "invalid_request", "Unknown client_id");
    if (get(p, "scope") != "kel") return res.error(400, "invalid_request", "The scope must be kel");
    if (get(p, "resource") != svc.resourceUrn())
        return res.error(400, "invalid_request", "Unknown resource");
    std::string login = get(p, "username");
    if (!ctx_.knownUser(login)) return res.error(400, "invalid_grant", "invalid_username");
    if (!ctx_.checkPassword(login, get(p, "password")))
        return res.error(400, "invalid_grant", "invalid_password");
    RuntimeSettings rt = ctx_.runtime();
    ctx_.tokens().startSession(login, svc.name);
    Json::Value v;
    v["access_token"] = ctx_.tokens().issueAccess(login, svc.name, rt.accessTokenLifetime, "");
    v["token_type"] = "Bearer";
    v["expires_in"] = rt.accessTokenLifetime;
    v["id_token"] =
        ctx_.tokens().issueIdToken(login, svc.name, ctx_.authUrl(svc), rt.idTokenLifetime);
    v["scope"] = "kel";
    res.json(v);
}

std::string AuthEndpoints::checkAuthorizeParams(const ServiceEntry& svc,
                                                const std::map<std::string, std::string>& p) const {
    if (get(p, "client_id") != kClientId) return "Unknown client_id";
    if (get(p, "response_type") != "token id_token")
        return "response_type must be \"token id_token\"";
    if (get(p, "scope") != "kel") return "The scope must be kel";
    std::string redirect = get(p, "redirect_uri");
    const std::string& suffix = ctx_.config().redirectSuffix;
    if (redirect.compare(0, 8, "https://") != 0 || redirect.size() < suffix.size() ||
        redirect.compare(redirect.size() - suffix.size(), suffix.size(), suffix) != 0)
        return "Unknown redirect_uri";
    if (get(p, "resource") != svc.resourceUrn()) return "Unknown resource";
    bool api2 = p.count("sign_api_version") > 0;
    if (api2 && (get(p, "sign_api_version") != "2" || !svc.documentStore))
        return "Unsupported sign_api_version";
    if (p.count("kel_operation_id") && !api2) return "kel_operation_id needs sign_api_version=2";
    if (p.count("kel_transaction_token_id") && api2)
        return "kel_transaction_token_id is for API version 1";
    std::string mode = get(p, "response_mode");
    if (mode != "fragment" && mode != "form_post") return "Unsupported response_mode";
    return {};
}

void AuthEndpoints::authorize(const ServiceEntry& svc, const HttpRequest& req, HttpResponse& res) {
    auto p = queryMap(req);
    std::string problem = checkAuthorizeParams(svc, p);
    if (!problem.empty()) return res.error(400, "invalid_request", problem);
    std::string redirect = get(p, "redirect_uri");
    if (get(p, "response_mode") == "form_post") return signInPage(svc, p, "", res);
    if (get(p, "prompt") != "none")
        return res.error(400, "invalid_request", "response_mode=fragment needs prompt=none");
    // Silent: the user is recognised from a valid id token or from the login of a running session.
    std::string user;
    if (p.count("id_token_hint") &&
        !ctx_.tokens().checkIdToken(get(p, "id_token_hint"), svc.name, user))
        user.clear();
    if (user.empty() && p.count("login_hint")) {
        std::string login = get(p, "login_hint");
        if (ctx_.knownUser(login) && ctx_.tokens().hasSession(login, svc.name)) user = login;
    }
    // A redirect to the client's redirect URI with the parameters in its fragment. The module's
    // redirect URI is a page of its vendor, on another origin: its transport, which follows only
    // same-origin redirects, hands back the target itself as the answer.
    if (user.empty())
        return res.redirect(redirect + "#error=login_required&error_description=login_required");
    RuntimeSettings rt = ctx_.runtime();
    std::string fragment =
        "access_token=" + ctx_.tokens().issueAccess(user, svc.name, rt.accessTokenLifetime, "") +
        "&token_type=Bearer&expires_in=" + std::to_string(rt.accessTokenLifetime) + "&id_token=" +
        ctx_.tokens().issueIdToken(user, svc.name, ctx_.authUrl(svc), rt.idTokenLifetime) +
        "&scope=kel";
    res.redirect(redirect + "#" + fragment);
}

void AuthEndpoints::signInPage(const ServiceEntry& svc, const std::map<std::string, std::string>& p,
                               const std::string& error, HttpResponse& res) {
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Sign in</title></head><body>\n"
        "<h1>Sign in to " +
        htmlEscape(svc.name) + "</h1>\n";
    if (p.count("kel_operation_id") || p.count("kel_transaction_token_id"))
        html += "<p>Signing in confirms the pending operation.</p>\n";
    html += "<form id=\"signin\" method=\"post\" action=\"" +
            htmlEscape(ctx_.authUrl(svc) + "/oauth/authorize") + "\">\n";
    for (const auto& kv : p) {
        if (kv.first == "login" || kv.first == "password" || kv.first == "action" ||
            kv.first == "error")
            continue;
        html += "<input type=\"hidden\" name=\"" + htmlEscape(kv.first) + "\" value=\"" +
                htmlEscape(kv.second) + "\">\n";
    }
    if (!error.empty()) {
        html += "<p id=\"error\">" + htmlEscape(error) + "</p>\n";
        html += "<input type=\"hidden\" name=\"error\" value=\"" + htmlEscape(error) + "\">\n";
    }
    std::string login = p.count("login") ? get(p, "login") : get(p, "login_hint");
    html += "<label>Login <input type=\"text\" name=\"login\" value=\"" + htmlEscape(login) +
            "\"></label>\n<label>Password <input type=\"password\" name=\"password\" value=\"\">"
            "</label>\n<button type=\"submit\" name=\"action\" value=\"signin\">Sign in</button>\n"
            "<button type=\"submit\" name=\"action\" value=\"cancel\">Cancel</button>\n</form>\n"
            "</body></html>\n";
    res.text(html, "text/html; charset=utf-8");
}

void AuthEndpoints::formPost(const std::string& redirect,
                             const std::vector<std::pair<std::string, std::string>>& fields,
                             HttpResponse& res) {
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Signed in</title></head>"
        "<body>\n<form id=\"redirect\" method=\"post\" action=\"" +
        htmlEscape(redirect) + "\">\n";
    for (const auto& f : fields)
        html += "<input type=\"hidden\" name=\"" + htmlEscape(f.first) + "\" value=\"" +
                htmlEscape(f.second) + "\">\n";
    html +=
        "<noscript><button type=\"submit\">Continue</button></noscript>\n</form>\n"
        "<script>document.getElementById('redirect').submit();</script>\n</body></html>\n";
    res.text(html, "text/html; charset=utf-8");
}

void AuthEndpoints::authorizePost(const ServiceEntry& svc, const HttpRequest& req,
                                  HttpResponse& res) {
    auto p = parseForm(req.body);
    std::string problem = checkAuthorizeParams(svc, p);
    if (!problem.empty()) return res.error(400, "invalid_request", problem);
    if (get(p, "response_mode") != "form_post")
        return res.error(400, "invalid_request", "The sign-in form answers with form_post");
    std::string redirect = get(p, "redirect_uri");
    if (get(p, "action") == "cancel")
        return formPost(redirect,
                        {{"error", "access_denied"}, {"error_description", "cancelled_by_user"}},
                        res);
    std::string login = get(p, "login");
    if (!ctx_.knownUser(login)) return signInPage(svc, p, "invalid_username", res);
    if (!ctx_.checkPassword(login, get(p, "password")))
        return signInPage(svc, p, "invalid_password", res);
    // Signing in interactively also confirms the operation named in the request.
    std::string reference;
    bool isTransaction = p.count("kel_transaction_token_id") > 0;
    if (isTransaction || p.count("kel_operation_id")) {
        reference = isTransaction ? get(p, "kel_transaction_token_id") : get(p, "kel_operation_id");
        OperationRegistry::Operation op;
        if (!ctx_.operations().findPending(reference, login, svc.name, isTransaction, op))
            return formPost(
                redirect,
                {{"error", "invalid_transaction"}, {"error_description", "invalid_transaction"}},
                res);
        ctx_.operations().confirm(reference);
    }
    RuntimeSettings rt = ctx_.runtime();
    ctx_.tokens().startSession(login, svc.name);
    std::vector<std::pair<std::string, std::string>> fields = {
        {"access_token",
         ctx_.tokens().issueAccess(login, svc.name, rt.accessTokenLifetime, reference)},
        {"token_type", "Bearer"},
        {"expires_in", std::to_string(rt.accessTokenLifetime)},
        {"id_token",
         ctx_.tokens().issueIdToken(login, svc.name, ctx_.authUrl(svc), rt.idTokenLifetime)},
        {"scope", "kel"}};
    if (rt.issueConfToken) {
        fields.push_back(
            {"conf_token", ctx_.tokens().issueConfToken(login, svc.name, rt.confTokenLifetime)});
        fields.push_back({"conf_token_expires_in", std::to_string(rt.confTokenLifetime)});
    }
    formPost(redirect, fields, res);
}

Json::Value AuthEndpoints::finalAnswer(const ServiceEntry& svc, const std::string& user,
                                       const std::string& reference) {
    RuntimeSettings rt = ctx_.runtime();
    if (!reference.empty()) ctx_.operations().confirm(reference);
    ctx_.tokens().startSession(user, svc.name);
    Json::Value v;
    v["IsError"] = false;
    v["IsFinal"] = true;
    v["AccessToken"] = ctx_.tokens().issueAccess(user, svc.name, rt.accessTokenLifetime, reference);
    v["ExpiresIn"] = rt.accessTokenLifetime;
    if (rt.issueConfToken) {
        v["ConfToken"] = ctx_.tokens().issueConfToken(user, svc.name, rt.confTokenLifetime);
        v["ConfTokenExpiresIn"] = rt.confTokenLifetime;
    }
    return v;
}

void AuthEndpoints::confirmation(const ServiceEntry& svc, bool v2, const HttpRequest& req,
                                 HttpResponse& res) {
    Json::Value body;
    if (!parseJson(req.body, body) || !body.isObject())
        return res.error(400, "invalid_request", "The confirmation request is not a JSON object");
    // Who asks: a valid access token of this service, or a login (with its password when one is
    // given; a login alone is confirmed out of band).
    std::string user;
    std::string token = bearer(req);
    if (!token.empty()) {
        TokenIssuer::Access a;
        if (!ctx_.tokens().checkAccess(token, svc.name, a))
            return res.json(confirmationError("invalid_grant", "The access token is not valid"));
        user = a.user;
    } else {
        std::string login, password;
        if (!basicCredentials(req, login, password))
            return res.json(confirmationError("invalid_grant", "No user credentials"));
        if (!ctx_.knownUser(login))
            return res.json(confirmationError("invalid_username", "Unknown user"));
        if (!password.empty() && !ctx_.checkPassword(login, password))
            return res.json(confirmationError("invalid_password", "Wrong password"));
        user = login;
    }
    RuntimeSettings rt = ctx_.runtime();
    if (body.isMember("ChallengeResponse")) {
        const Json::Value& cr = body["ChallengeResponse"];
        std::string refId, selected;
        bool text = false;
        if (cr.isObject() && cr["TextChallengeResponse"].isArray() &&
            !cr["TextChallengeResponse"].empty() && cr["TextChallengeResponse"][0].isObject() &&
            cr["TextChallengeResponse"][0]["RefId"].isString()) {
            refId = cr["TextChallengeResponse"][0]["RefId"].asString();
            text = true;
        } else if (cr.isObject() && cr["ChoiceChallengeResponse"].isArray() &&
                   !cr["ChoiceChallengeResponse"].empty() &&
                   cr["ChoiceChallengeResponse"][0].isObject() &&
                   cr["ChoiceChallengeResponse"][0]["RefID"].isString() &&
                   cr["ChoiceChallengeResponse"][0]["ChoiceSelected"].isArray() &&
                   !cr["ChoiceChallengeResponse"][0]["ChoiceSelected"].empty() &&
                   cr["ChoiceChallengeResponse"][0]["ChoiceSelected"][0]["RefId"].isString()) {
            refId = cr["ChoiceChallengeResponse"][0]["RefID"].asString();
            selected = cr["ChoiceChallengeResponse"][0]["ChoiceSelected"][0]["RefId"].asString();
        } else {
            return res.error(400, "invalid_request", "Malformed challenge response");
        }
        OperationRegistry::Session s;
        if (!ctx_.operations().findSession(refId, s) || s.user != user || s.service != svc.name)
            return res.json(confirmationError("invalid_request", "Unknown challenge"));
        if (text != (s.stage == "text"))
            return res.json(
                confirmationError("invalid_request", "The answer does not fit the challenge"));
        if (!text) {
            bool offered = false;
            for (const auto& c : s.choices) offered = offered || c == selected;
            if (!offered || selected == kPasswordMethod)
                return res.json(confirmationError("authentication_declined", "Unusable choice"));
            s.stage = "text";
            ctx_.operations().updateSession(s);
            return res.json(textChallenge(s.refId, selected));
        }
        if (s.pollsLeft > 0) {
            --s.pollsLeft;
            ctx_.operations().updateSession(s);
            return res.json(textChallenge(s.refId, rt.confirmationMethod));
        }
        ctx_.operations().endSession(s.refId);
        if (rt.outcome == "decline")
            return res.json(confirmationError("authentication_declined", "The user declined"));
        if (rt.outcome == "cancel")
            return res.json(confirmationError("cancelled_by_user", "The user cancelled"));
        return res.json(finalAnswer(svc, user, s.reference));
    }
    // A first request.
    if (!body["Resource"].isString() || body["Resource"].asString() != svc.resourceUrn())
        return res.json(confirmationError("invalid_request", "Unknown resource"));
    if (!body["ClientId"].isString() || body["ClientId"].asString() != kClientId)
        return res.json(confirmationError("invalid_request", "Unknown client"));
    std::string reference;
    const char* refName = v2 ? "OperationId" : "TransactionTokenId";
    const char* otherName = v2 ? "TransactionTokenId" : "OperationId";
    if (body.isMember(otherName))
        return res.json(confirmationError("invalid_request",
                                          std::string(otherName) + " does not fit this endpoint"));
    if (body.isMember(refName)) {
        if (!body[refName].isString())
            return res.json(confirmationError("invalid_transaction", "Bad reference"));
        reference = body[refName].asString();
        OperationRegistry::Operation op;
        if (!ctx_.operations().findPending(reference, user, svc.name, !v2, op))
            return res.json(confirmationError("invalid_transaction", "No such pending operation"));
    }
    if (body.isMember("ConfToken")) {
        if (!body["ConfToken"].isString() ||
            !ctx_.tokens().checkConfToken(body["ConfToken"].asString(), user, svc.name))
            return res.json(
                confirmationError("invalid_conf_token", "The confirmation token is not valid"));
        return res.json(finalAnswer(svc, user, reference));
    }
    OperationRegistry::Session s;
    s.user = user;
    s.service = svc.name;
    s.reference = reference;
    s.pollsLeft = rt.pollsBeforeFinal;
    if (rt.challenge == "choice") {
        s.stage = "choice";
        s.choices = {kPasswordMethod, rt.confirmationMethod};
        std::string refId = ctx_.operations().startSession(s);
        Json::Value v;
        v["IsError"] = false;
        v["IsFinal"] = false;
        Json::Value c;
        c["RefID"] = refId;
        c["Text"] = "Choose how to confirm the operation";
        for (const auto& ch : s.choices) {
            Json::Value e;
            e["RefID"] = ch;
            e["Text"] = ch == kPasswordMethod ? "Password" : "Mobile application";
            c["Choice"].append(e);
        }
        v["Challenge"]["ChoiceChallenge"].append(c);
        return res.json(v);
    }
    s.stage = "text";
    std::string refId = ctx_.operations().startSession(s);
    res.json(textChallenge(refId, rt.confirmationMethod));
}

void AuthEndpoints::signOut(const ServiceEntry& svc, const HttpRequest& req, HttpResponse& res) {
    std::string login, password;
    std::string token = bearer(req);
    TokenIssuer::Access a;
    if (basicCredentials(req, login, password) && ctx_.knownUser(login) &&
        (password.empty() || ctx_.checkPassword(login, password)))
        ctx_.tokens().endSessions(login);
    else if (!token.empty() && ctx_.tokens().checkAccess(token, svc.name, a))
        ctx_.tokens().endSessions(a.user);
    res.text(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Signed out</title></head>"
        "<body><p id=\"signed-out\">You have been signed out.</p></body></html>\n",
        "text/html; charset=utf-8");
}

}  // namespace localservice
