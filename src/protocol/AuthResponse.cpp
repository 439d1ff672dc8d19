#include "protocol/AuthResponse.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

namespace {

// An error field: no secret.
std::string ValueOrEmpty(const AuthParameters& parameters, const char* name) {
    AuthParameters::const_iterator it = parameters.find(name);
    return it == parameters.end() ? std::string() : std::string(it->second);
}

// Reads a lifetime in seconds ("expires_in", "conf_token_expires_in") and
// turns it into an expiry time.
TSupTime ExpiryFromLifetime(const SecretString& text, const char* name) {
    // The leading decimal digits; text that does not start with a digit (a
    // blank or a sign included) is no number. Overlong runs of digits
    // saturate and fail the range test below.
    const bool startsWithDigit = !text.empty() && text[0] >= '0' && text[0] <= '9';
    long long seconds = startsWithDigit ? std::strtoll(text.c_str(), nullptr, 10) : 0;
    if (seconds < 1) {
        throw KelException(
            std::string("Wrong \"") + name + "\" value. Cannot convert to an integer.",
            codes::kFail);
    }
    TSupTime expiry = {0};
    if (seconds > 0x7FFFFFFF || !ExpiryFromNow(static_cast<int>(seconds), expiry)) {
        throw KelException(std::string("Wrong \"") + name + "\" value. Cannot convert to a time.",
                           codes::kFail);
    }
    return expiry;
}

}  // namespace

void ThrowIfOAuthError(const KelUrlRetriever& transport, std::string_view text) {
    if (text.empty()) return;
    throw KelException("Error was return from OAuth2 client: " + std::string(text),
                       transport.LookupErrorCode(text));
}

const SecretString& FindResponseField(const AuthParameters& parameters, const char* name) {
    if (!name) throw KelException("Wrong call of find_response_field", codes::kFail);
    AuthParameters::const_iterator it = parameters.find(name);
    if (it == parameters.end()) {
        throw KelException(
            std::string("Cannot find a \"") + name + "\" field in the auth server response",
            codes::kFail);
    }
    return it->second;
}

void DecodeAuthResponse(const KelUrlRetriever& transport, const AuthParameters& parameters,
                        SecretString& accessToken, TSupTime& accessExpiry, SecretString& idToken,
                        TSupTime& idExpiry, SecretString& confToken, TSupTime& confExpiry) {
    const std::string errorMessage = ValueOrEmpty(parameters, "error_message");
    const std::string error = ValueOrEmpty(parameters, "error");
    const std::string errorDescription = ValueOrEmpty(parameters, "error_description");
    ThrowIfOAuthError(transport, errorMessage);
    if (error == "access_denied" && errorDescription == "cancelled_by_user")
        ThrowIfOAuthError(transport, "cancelled_by_user");
    ThrowIfOAuthError(transport, error);
    ThrowIfOAuthError(transport, errorDescription);

    // Every required field is looked up before anything is decoded.
    const SecretString& access = FindResponseField(parameters, "access_token");
    const SecretString& expiresIn = FindResponseField(parameters, "expires_in");
    const SecretString& id = FindResponseField(parameters, "id_token");

    accessExpiry = ExpiryFromLifetime(expiresIn, "expires_in");
    accessToken = access;

    idToken = id;
    if (!ExpiryFromIdToken(idToken.c_str(), idExpiry))
        throw KelException("Wrong \"id_token\" value. Cannot parse the value.", codes::kFail);

    AuthParameters::const_iterator conf = parameters.find("conf_token");
    AuthParameters::const_iterator confExpires = parameters.find("conf_token_expires_in");
    if (conf != parameters.end() && confExpires != parameters.end()) {
        confExpiry = ExpiryFromLifetime(confExpires->second, "conf_token_expires_in");
        confToken = conf->second;
    }
}

bool ExpiryFromNow(int seconds, TSupTime& expiry) {
    TSupTime interval = {0};
    TSupTime now = {0};
    TSupTime sum = {0};
    if (support_time_set(&interval, seconds) != SUP_OK) return false;
    if (support_gettimeofday(&now) != SUP_OK) return false;
    if (support_time_add(&sum, &now, &interval) != SUP_OK) return false;
    expiry = sum;
    return true;
}

bool IsExpired(const TSupTime& expiry) {
    TSupTime now = {0};
    TSupTime left = {0};
    if (support_gettimeofday(&now) != SUP_OK) return true;
    if (support_time_sub(&left, &expiry, &now) != SUP_OK) return true;
    return left.usec < 0;
}

bool ExpiryFromIdToken(const char* idToken, TSupTime& expiry) {
    if (!idToken) return false;
    const char* first = std::strchr(idToken, '.');
    if (!first) return false;
    const char* second = std::strchr(first + 1, '.');
    if (!second) return false;

    // The payload is base64url; the decoder takes the standard alphabet and
    // does without the "=" padding.
    SecretString payload(first + 1, second);
    for (char& c : payload) {
        if (c == '_')
            c = '/';
        else if (c == '-')
            c = '+';
    }
    const SecretString claims = DecodeBase64Secret(payload);

    uint32_t exp = 0;
    if (!GetJsonUIntField(claims, "exp", exp)) return false;
    TSupTime value = {0};
    if (support_time_set(&value, exp) != SUP_OK) return false;
    expiry = value;
    return true;
}

bool IsConfirmationAuthMethod(const std::string& text) {
    return text.find("authenticationmethod/mobile") != std::string::npos ||
           text.find("authenticationmethod/simauth") != std::string::npos ||
           text.find("authenticationmethod/mykel") != std::string::npos;
}
