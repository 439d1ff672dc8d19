#include "protocol/RequestHeaders.h"

#include "base/Wipe.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/TextEncoding.h"

std::vector<std::string> MakeRequestHeaders(const std::string& accessToken, const std::string& body,
                                            const std::string& login, const std::string& password) {
    std::vector<std::string> headers;
    headers.reserve(4);  // room for a signature line: no reallocation copies a token
    if (!accessToken.empty()) {
        headers.push_back("Authorization: Bearer " + accessToken);
    } else if (!login.empty()) {
        std::string credentials;
        WipeOnExit wipeCredentials(credentials);
        credentials.reserve(login.size() + 1 + password.size());
        credentials += login;
        credentials += ':';
        credentials += password;
        std::string encoded = EncodeBase64(credentials.data(), credentials.size());
        WipeOnExit wipeEncoded(encoded);
        headers.push_back("Authorization: Basic " + encoded);
    }
    if (!body.empty()) {
        headers.push_back("Content-Type: application/json; charset=utf-8");
        headers.push_back("Content-Length: " + std::to_string(body.size()));
    }
    return headers;
}

std::vector<std::string> MakeSignedRequestHeaders(
    const boost::shared_ptr<HttpMessageSignatureCreatorBase>& signer, const std::string& url,
    const std::string& accessToken, const std::string& body) {
    std::vector<std::string> headers =
        MakeRequestHeaders(accessToken, body, std::string(), std::string());
    if (signer) headers.push_back(signer->CreateSignature(url, headers, body));
    return headers;
}
