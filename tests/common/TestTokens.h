#pragma once
#include <string>

#include "protocol/TextEncoding.h"

// Tokens as the auth server writes them, for the sign-in suites.
namespace nimbex_test {

// Base64url without padding.
inline std::string Base64Url(const std::string& text) {
    std::string s = EncodeBase64(text.data(), text.size());
    while (!s.empty() && s.back() == '=') s.pop_back();
    for (char& c : s) c = c == '+' ? '-' : c == '/' ? '_' : c;
    return s;
}

// A JWT with these claims; its signature part is never looked at.
inline std::string IdToken(const std::string& claims) {
    return Base64Url(R"({"alg":"RS256"})") + "." + Base64Url(claims) + ".c2lnbmF0dXJl";
}

}  // namespace nimbex_test
