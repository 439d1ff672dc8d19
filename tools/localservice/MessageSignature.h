#pragma once
#include <string>

#include "HttpTypes.h"

namespace localservice {

// Checks the "VL-Signature" header of a request: an HMAC-SHA-256, keyed with the header's
// "key", over "(request-target): post " + target, then for every listed header a line feed,
// its lower-case name, ": " and its value as received, and then the body.
// Returns true when it verifies; otherwise false with the reason.
bool verifyMessageSignature(const HttpRequest& req, std::string& reason);

}  // namespace localservice
