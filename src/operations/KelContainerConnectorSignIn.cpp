// Sign-in, authenticated requests and sign-out of KelContainerConnector.
#include <climits>
#include <cstdint>
#include <map>

#include "auth/AuthTokenSaver.h"
#include "auth/AuthorizeUrl.h"
#include "base/ErrorCodes.h"
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

void WipeParameters(std::map<std::string, std::string>& parameters) {
    for (auto& entry : parameters) WipeString(entry.second);
    parameters.clear();
}

// The browser application's answer or the fragment of the silent
// authorization, decoded into the three tokens. Whatever was decoded before a
// failure stays set.
struct DecodedTokens {
    std::string access, id, conf;
    TSupTime accessExpiry{0}, idExpiry{0}, confExpiry{0};
    ~DecodedTokens() {
        WipeString(access);
        WipeString(id);
        WipeString(conf);
    }
};

}  // namespace

void KelContainerConnector::DecodeTokens(std::map<std::string, std::string>& parameters) {
    // The decoder writes its outputs as it goes and leaves the confirmation
    // token alone when the answer has none. It writes into outputs that start
    // as markers no answer can produce (short enough to need no heap buffer,
    // so nothing secret is released when they grow); what it wrote replaces
    // the connector's tokens afterwards, also when it fails half-way.
    static const char kUnset[] = "\x01";
    const TSupTime unsetTime{INT64_MIN};
    DecodedTokens tokens;
    tokens.access = tokens.id = tokens.conf = kUnset;
    tokens.accessExpiry = tokens.idExpiry = tokens.confExpiry = unsetTime;
    struct Apply {
        KelContainerConnector& self;
        DecodedTokens& tokens;
        std::map<std::string, std::string>& parameters;
        void One(TokenRecord& record, const std::string& value, const TSupTime& expiry) {
            if (value != kUnset) self.SetToken(record, value);
            if (expiry.usec != INT64_MIN) record.expiry = expiry;
        }
        ~Apply() {
            WipeParameters(parameters);
            One(self.accessToken_, tokens.access, tokens.accessExpiry);
            One(self.idToken_, tokens.id, tokens.idExpiry);
            One(self.confToken_, tokens.conf, tokens.confExpiry);
        }
    } apply{*this, tokens, parameters};
    DecodeAuthResponse(*this, parameters, tokens.access, tokens.accessExpiry, tokens.id,
                       tokens.idExpiry, tokens.conf, tokens.confExpiry);
}

void KelContainerConnector::SignInInteractive(const std::string& reference) {
    if (silent_)
        throw KelException("Cannot create interactive window in silent mode",
                           codes::kSilentContext);
    if (authUrl_.compare(0, 5, "https") != 0 && !GetPermitHttp())
        throw KelException("Usage of http protocol is restricted", codes::kHttpRestricted);

    std::string url = BuildAuthorizeUrl(authUrl_, resourceUrn_, reference, idToken_.value, login_,
                                        HasDocumentStore(), false);
    WipeOnExit wipeUrl(url);
    std::string command = MakeBrowserCommand(GetAuthAppPath(), url);
    WipeOnExit wipeCommand(command);
    if (command.empty()) throw KelException("Bad command, internal fail", codes::kFail);

    std::string output;
    WipeOnExit wipeOutput(output);
    if (!browserRunner_(command, output))
        throw KelException("Cannot get auth token from the OAuth2 client", codes::kFail);

    AuthParameters parameters = ParseKeyValueText(output);
    DecodeTokens(parameters);
}

void KelContainerConnector::Authenticate() {
    try {
        if (!password_.empty()) {
            const std::string url = authUrl_ + service_paths::kToken;
            std::string login = PercentEncode(login_);
            WipeOnExit wipeLogin(login);
            std::string password = PercentEncode(password_);
            WipeOnExit wipePassword(password);
            std::string body;
            WipeOnExit wipeBody(body);
            body.reserve(login.size() + password.size() + resourceUrn_.size() + 128);
            body += "grant_type=password&username=";
            body += login;
            body += "&password=";
            body += password;
            body += "&scope=kel&client_id=";
            body += kOAuthClientId;
            body += "&resource=";
            body += resourceUrn_;

            std::vector<std::string> headers =
                MakeRequestHeaders(std::string(), body, std::string(), std::string());
            std::string response = SendRequest(url, headers, body);
            WipeOnExit wipeResponse(response);

            uint32_t expiresIn = 0;
            if (!GetJsonUIntField(response, "expires_in", expiresIn))
                throw KelException("Cannot find \"expires_in\" value in the server response",
                                   codes::kFail);
            if (expiresIn > static_cast<uint32_t>(INT_MAX) ||
                !ExpiryFromNow(static_cast<int>(expiresIn), accessToken_.expiry))
                throw KelException("Cannot convert \"expires_in\" value to the time object",
                                   codes::kFail);
            std::string token = GetJsonStringField(response, "access_token");
            WipeOnExit wipeToken(token);
            SetToken(accessToken_, token);
            if (accessToken_.value.empty())
                throw KelException("Cannot find \"access_token\" value in the server response",
                                   codes::kFail);
        } else {
            std::string url = BuildAuthorizeUrl(authUrl_, resourceUrn_, std::string(),
                                                idToken_.value, login_, HasDocumentStore(), true);
            WipeOnExit wipeUrl(url);
            std::vector<std::string> headers;
            std::string response = SendRequest(url, headers, std::string());
            WipeOnExit wipeResponse(response);
            const size_t hash = response.find('#');
            if (hash == std::string::npos)
                throw KelException("Wrong server response: cannot find '#' symbol in the response",
                                   codes::kFail);
            std::string fragment = response.substr(hash + 1);
            WipeOnExit wipeFragment(fragment);
            AuthParameters parameters = ParseKeyValueText(fragment);
            DecodeTokens(parameters);
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
        if (!record->value.empty() && IsExpired(record->expiry)) WipeString(record->value);
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

std::string KelContainerConnector::SendRequest(const std::string& url,
                                               std::vector<std::string>& headers,
                                               const std::string& body, const char* method) {
    try {
        return Request(url, headers, body, method);
    } catch (...) {
        if (!tokensCurrent_) throw;
    }

    ClearTokens();
    EnsureAuthenticated();

    for (std::string& line : headers) {
        if (line.find(kBearerPrefix) != std::string::npos) {
            WipeString(line);
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
    return Request(url, headers, body, method);
}

std::string KelContainerConnector::RestGet(const std::string& path, bool authenticate) {
    const std::string url = signUrl_ + path;
    if (!authenticate) return Request(url, std::vector<std::string>(), std::string());
    EnsureAuthenticated();
    std::vector<std::string> headers =
        MakeRequestHeaders(accessToken_.value, std::string(), std::string(), std::string());
    struct Wipe {
        std::vector<std::string>& lines;
        ~Wipe() { WipeStrings(lines); }
    } wipeHeaders{headers};
    return SendRequest(url, headers, std::string());
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
    AuthParameters parameters = ParseKeyValueText(output);
    const auto it = parameters.find("error_message");
    if (it == parameters.end()) {
        WipeParameters(parameters);
        throw KelException("There is no code in browser app resonse for DropAuth", codes::kFail);
    }
    const std::string value = it->second;
    WipeParameters(parameters);
    const uint32_t code = LookupErrorCode(value);
    if (code == codes::kCancelled) return;
    throw KelException("Unexpected code was return from browser app for DropAuth: " + value, code);
}
