#pragma once
#include <boost/shared_ptr.hpp>
#include <string_view>
#include <vector>

#include "base/SecretString.h"

class HttpMessageSignatureCreatorBase;

// The header lines of a service request: the authorization line (bearer
// token, else Basic login:password when a login is given), then for a
// non-empty body its content type and length. The lines carry credentials:
// they are secrets.
std::vector<SecretString> MakeRequestHeaders(const SecretString& accessToken, std::string_view body,
                                             const SecretString& login,
                                             const SecretString& password);

// The headers of MakeRequestHeaders (token and body only) followed, when a
// signer is given, by its "VL-Signature" line over the URL, those lines and
// the body.
std::vector<SecretString> MakeSignedRequestHeaders(
    const boost::shared_ptr<HttpMessageSignatureCreatorBase>& signer, std::string_view url,
    const SecretString& accessToken, std::string_view body);
