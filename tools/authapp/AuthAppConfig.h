#pragma once
#include <string>

#include "Secret.h"

namespace authapp {

// What the application plays: the user's credentials, the CA it trusts and how the user
// behaves. Read from the JSON file named by NIMBEX_AUTHAPP_CONFIG; NIMBEX_CA_FILE,
// NIMBEX_AUTHAPP_MODE and NIMBEX_AUTHAPP_ERROR override the file.
struct AuthAppConfig {
    Secret login;
    Secret password;
    std::string caFile;
    std::string mode = "signin";  // "signin", "cancel", "error" or "fail"
    std::string error = "internal_error";
    long timeoutSeconds = 60;

    // False with a message when the file or a value is bad.
    bool load(std::string& message);
};

}  // namespace authapp
