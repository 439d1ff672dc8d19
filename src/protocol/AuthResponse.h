#pragma once
#include <support/support.h>

#include <map>
#include <string>
#include <string_view>

#include "base/SecretString.h"

class KelUrlRetriever;

// The pairs of an OAuth2 answer; the values are tokens.
typedef std::map<std::string, SecretString> AuthParameters;

// Turns the parameters of an OAuth2 answer (the auth server's fields or the
// browser application's redirect parameters) into the three tokens and their
// expiry times. OAuth2 error parameters become exceptions with the transport's
// code for them. Outputs are written as they are decoded; a failure leaves the
// earlier ones set. The confirmation outputs change only when both
// "conf_token" and "conf_token_expires_in" are present. The connector hands
// in its own tokens, so what was decoded before a failure stays set.
void DecodeAuthResponse(const KelUrlRetriever& transport, const AuthParameters& parameters,
                        SecretString& accessToken, TSupTime& accessExpiry, SecretString& idToken,
                        TSupTime& idExpiry, SecretString& confToken, TSupTime& confExpiry);

// The value of `name`; throws when `name` is null or absent.
const SecretString& FindResponseField(const AuthParameters& parameters, const char* name);

// Throws "Error was return from OAuth2 client: " + text with the transport's
// code for `text` unless `text` is empty.
void ThrowIfOAuthError(const KelUrlRetriever& transport, std::string_view text);

// expiry := now + seconds. False when the platform time calls fail.
bool ExpiryFromNow(int seconds, TSupTime& expiry);

// True when `expiry` lies before now, or cannot be compared with now.
bool IsExpired(const TSupTime& expiry);

// expiry := the "exp" claim of a JWT (its signature is not checked). False for
// a token without a payload or without an integral "exp"; a payload that is
// not Base64 throws.
bool ExpiryFromIdToken(const char* idToken, TSupTime& expiry);

// True for the authentication methods whose operations need an out-of-band
// confirmation.
bool IsConfirmationAuthMethod(const std::string& text);
