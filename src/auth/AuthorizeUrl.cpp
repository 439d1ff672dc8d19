#include "auth/AuthorizeUrl.h"

#include "protocol/ServiceUrls.h"
#include "protocol/TextEncoding.h"

const char kEncodedRedirectUri[] = "https%3A%2F%2Fcloud.veltra.example%2Foauth2redirect%2Fcloudcsp";

namespace {
const char kAuthorizeQuery[] =
    "?client_id=veltra.cloud.csp&response_type=token%20id_token&scope=kel&redirect_uri=";
}

SecretString BuildAuthorizeUrl(const std::string& authUrl, const std::string& resource,
                               const std::string& reference, const SecretString& idToken,
                               const SecretString& login, bool signApi2, bool silent) {
    SecretString url;
    url.reserve(authUrl.size() + resource.size() + reference.size() + idToken.size() +
                3 * login.size() + 320);
    url += authUrl;
    url += service_paths::kAuthorize;
    url += kAuthorizeQuery;
    url += kEncodedRedirectUri;
    url += "&resource=";
    url += resource;
    if (!reference.empty()) {
        url += signApi2 ? "&kel_operation_id=" : "&kel_transaction_token_id=";
        url += reference;
    }
    if (!idToken.empty()) {
        url += "&id_token_hint=";
        url += idToken;
    }
    url += silent ? "&response_mode=fragment&prompt=none" : "&response_mode=form_post";
    if (signApi2) url += "&sign_api_version=2";
    if (!login.empty()) {
        url += "&login_hint=";
        url += PercentEncodeSecret(login);
    }
    return url;
}
