#include "protocol/RequestHeaders.h"

#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/TextEncoding.h"

std::vector<SecretString> MakeRequestHeaders(const SecretString& accessToken, std::string_view body,
                                             const SecretString& login,
                                             const SecretString& password) {
    std::vector<SecretString> headers;
    headers.reserve(4);  // room for a signature line
    if (!accessToken.empty()) {
        headers.push_back("Authorization: Bearer " + accessToken);
    } else if (!login.empty()) {
        const SecretString credentials = login + ':' + password;
        headers.push_back("Authorization: Basic " +
                          EncodeBase64Secret(credentials.data(), credentials.size()));
    }
    if (!body.empty()) {
        headers.push_back("Content-Type: application/json; charset=utf-8");
        headers.push_back("Content-Length: " + std::to_string(body.size()));
    }
    return headers;
}

std::vector<SecretString> MakeSignedRequestHeaders(
    const boost::shared_ptr<HttpMessageSignatureCreatorBase>& signer, std::string_view url,
    const SecretString& accessToken, std::string_view body) {
    std::vector<SecretString> headers =
        MakeRequestHeaders(accessToken, body, SecretString(), SecretString());
    if (signer) headers.push_back(signer->CreateSignature(url, headers, body));
    return headers;
}
