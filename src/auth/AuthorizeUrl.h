#pragma once
#include <string>

#include "base/SecretString.h"

// The redirect URI registered for the module's OAuth2 client, as it stands
// (percent-encoded) in the authorization request.
extern const char kEncodedRedirectUri[];

// The auth server's authorization URL for a sign-in: the fixed client query,
// the resource, the operation to confirm (when `reference` is not empty), the
// id token hint, the response mode (a fragment without prompting when
// `silent`, a form post otherwise), the signing API version and the login
// hint. The result carries the id token and the login: a secret.
SecretString BuildAuthorizeUrl(const std::string& authUrl, const std::string& resource,
                               const std::string& reference, const SecretString& idToken,
                               const SecretString& login, bool signApi2, bool silent);
