// Sign-in, authenticated requests and sign-out of KelContainerConnector.
#include <climits>
#include <cstdint>

#include "auth/AuthTokenSaver.h"
#include "auth/AuthorizeUrl.h"
#include "base/ErrorCodes.h"
#include "base/JsonFields.h"
#include "base/KelException.h"
#include "base/SecretText.h"
#include "base/Wipe.h"
#include "config/ModuleOptions.h"
#include "operations/KelContainerConnector.h"
#include "protocol/AuthResponse.h"
#include "protocol/HttpMessageSignatureCreator.h"
#include "protocol/RequestHeaders.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/ServiceUrls.h"
#include "protocol/TextEncoding.h"

namespace {

const char kBearerPrefix[] = "Authorization: Bearer ";
const char kSignatureHeader[] = "VL-Signature";

}  // namespace

void KelContainerConnector::DecodeTokens(const AuthParameters& parameters) {
    // The decoder writes the connector's tokens as it goes: whatever was
    // decoded before a failure stays set.
    DecodeAuthResponse(*this, parameters, accessToken_.value, accessToken_.expiry, idToken_.value,
                       idToken_.expiry, confToken_.value, confToken_.expiry);
}

void KelContainerConnector::SignInInteractive(const std::string& reference) {
    if (silent_)
        throw KelException("Cannot create interactive window in silent mode",
                           codes::kSilentContext);
    if (authUrl_.compare(0, 5, "https") != 0 && !GetPermitHttp())
        throw KelException("Usage of http protocol is restricted", codes::kHttpRestricted);

    const SecretString url = BuildAuthorizeUrl(authUrl_, resourceUrn_, reference, idToken_.value,
                                               login_, HasDocumentStore(), false);
    // The browser runner takes and gives std::string: the command line (it
    // carries the id token and the login) and the answer are wiped by hand.
    const std::string authApp = GetAuthAppPath();
    std::string command;
    WipeOnExit wipeCommand(command);
    {
        std::string plainUrl(url);
        WipeOnExit wipeUrl(plainUrl);
        command = MakeBrowserCommand(authApp, plainUrl);
    }
    if (command.empty()) throw KelException("Bad command, internal fail", codes::kFail);

    std::string output;
    WipeOnExit wipeOutput(output);
    if (!browserRunner_(command, output))
        throw KelException("Cannot get auth token from the OAuth2 client", codes::kFail);
    DecodeTokens(ParseKeyValueText(output));
}

void KelContainerConnector::Authenticate() {
    try {
        if (!password_.empty()) {
            const std::string url = authUrl_ + service_paths::kToken;
            SecretString body = "grant_type=password&username=";
            body += PercentEncodeSecret(login_);
            body += "&password=";
            body += PercentEncodeSecret(password_);
            body += "&scope=kel&client_id=";
            body += kOAuthClientId;
            body += "&resource=";
            body += resourceUrn_;
            std::vector<SecretString> headers =
                MakeRequestHeaders(SecretString(), body, SecretString(), SecretString());
            SecretJson answer;
            // Read only (lookups add no member); what does not parse has no fields.
            const Json::Value& fields = ParseJson(SendSecretRequest(url, headers, body), answer)
                                            ? answer
                                            : Json::Value::nullSingleton();

            uint32_t expiresIn = 0;
            if (!GetJsonUIntMember(fields, "expires_in", expiresIn))
                throw KelException("Cannot find \"expires_in\" value in the server response",
                                   codes::kFail);
            if (expiresIn > static_cast<uint32_t>(INT_MAX) ||
                !ExpiryFromNow(static_cast<int>(expiresIn), accessToken_.expiry))
                throw KelException("Cannot convert \"expires_in\" value to the time object",
                                   codes::kFail);
            accessToken_.value = JsonSecretText(fields["access_token"]);
            if (accessToken_.value.empty())
                throw KelException("Cannot find \"access_token\" value in the server response",
                                   codes::kFail);
        } else {
            const SecretString url =
                BuildAuthorizeUrl(authUrl_, resourceUrn_, std::string(), idToken_.value, login_,
                                  HasDocumentStore(), true);
            std::vector<SecretString> headers;
            const SecretString response = SendSecretRequest(url, headers, std::string_view());
            const size_t hash = response.find('#');
            if (hash == std::string::npos)
                throw KelException("Wrong server response: cannot find '#' symbol in the response",
                                   codes::kFail);
            DecodeTokens(ParseKeyValueText(std::string_view(response).substr(hash + 1)));
        }
    } catch (const KelException& e) {
        // The transport could not set up a secure channel: sign-in ends quietly and
        // the operation fails at the service if no token is left.
        if (e.code() == codes::kSecureChannelError) return;
        ConfirmOperation(std::string());
    }
}

void KelContainerConnector::EnsureAuthenticated() {
    if (tokensCurrent_) return;
    for (TokenRecord* record : {&accessToken_, &idToken_, &confToken_}) {
        if (!record->value.empty() && IsExpired(record->expiry)) record->value.Wipe();
    }
    if (!accessToken_.value.empty() && (!password_.empty() || !idToken_.value.empty())) return;
    Authenticate();
    if (tokenSaver_) {
        if (!accessToken_.value.empty()) {
            tokenSaver_->SaveAuthToken(accessToken_.value);
            tokensCurrent_ = true;
        }
        if (!idToken_.value.empty()) {
            tokenSaver_->SaveIdToken(idToken_.value);
            tokensCurrent_ = true;
        }
    }
}

std::string KelContainerConnector::SendRequest(std::string_view url,
                                               std::vector<SecretString>& headers,
                                               std::string_view body, const char* method) {
    try {
        return Request(url, headers, body, method);
    } catch (...) {
        if (!tokensCurrent_) throw;
    }
    RenewRequest(url, headers, body);
    return Request(url, headers, body, method);
}

SecretString KelContainerConnector::SendSecretRequest(std::string_view url,
                                                      std::vector<SecretString>& headers,
                                                      std::string_view body) {
    try {
        return RequestSecret(url, headers, body);
    } catch (...) {
        if (!tokensCurrent_) throw;
    }
    RenewRequest(url, headers, body);
    return RequestSecret(url, headers, body);
}

void KelContainerConnector::RenewRequest(std::string_view url, std::vector<SecretString>& headers,
                                         std::string_view body) {
    ClearTokens();
    EnsureAuthenticated();

    for (SecretString& line : headers) {
        if (line.find(kBearerPrefix) != std::string::npos) {
            line = kBearerPrefix + accessToken_.value;
            break;
        }
    }
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        if (it->find(kSignatureHeader) != std::string::npos) {
            headers.erase(it);
            if (signatureCreator_)
                headers.push_back(signatureCreator_->CreateSignature(url, headers, body));
            break;
        }
    }
}

std::string KelContainerConnector::RestGet(const std::string& path, bool authenticate) {
    const std::string url = signUrl_ + path;
    if (!authenticate) return Request(url, {}, std::string_view());
    EnsureAuthenticated();
    std::vector<SecretString> headers =
        MakeRequestHeaders(accessToken_.value, std::string_view(), SecretString(), SecretString());
    return SendRequest(url, headers, std::string_view());
}

void KelContainerConnector::SignOut() {
    if (silent_)
        throw KelException("Cannot create interactive window in silent mode",
                           codes::kSilentContext);
    const std::string command =
        MakeBrowserCommand(GetAuthAppPath(), authUrl_ + service_paths::kSignOut);
    std::string output;
    WipeOnExit wipeOutput(output);
    if (!browserRunner_(command, output))
        throw KelException("Cannot perform SignOut command", codes::kFail);
    const AuthParameters parameters = ParseKeyValueText(output);
    const auto it = parameters.find("error_message");
    if (it == parameters.end())
        throw KelException("There is no code in browser app resonse for DropAuth", codes::kFail);
    const uint32_t code = LookupErrorCode(it->second);
    if (code == codes::kCancelled) return;
    throw KelException(
        "Unexpected code was return from browser app for DropAuth: " + std::string(it->second),
        code);
}
