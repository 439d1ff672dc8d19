#pragma once
#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

class HttpMessageSignatureCreatorBase;

// The header lines of a service request: the authorization line (bearer
// token, else Basic login:password when a login is given), then for a
// non-empty body its content type and length.
std::vector<std::string> MakeRequestHeaders(const std::string& accessToken, const std::string& body,
                                            const std::string& login, const std::string& password);

// The headers of MakeRequestHeaders (token and body only) followed, when a
// signer is given, by its "VL-Signature" line over the URL, those lines and
// the body.
std::vector<std::string> MakeSignedRequestHeaders(
    const boost::shared_ptr<HttpMessageSignatureCreatorBase>& signer, const std::string& url,
    const std::string& accessToken, const std::string& body);
