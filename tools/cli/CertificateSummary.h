#pragma once
#include <json/value.h>

#include <cstdint>
#include <vector>

namespace nimbex_cli {

// What a person needs to recognise a certificate: "subject", "issuer",
// "not_after" (YYYY-MM-DD HH:MM:SS UTC) and "sha1" (hex), read from its DER
// bytes; {"subject": "(unreadable certificate)"} when they do not decode.
Json::Value SummariseCertificate(const std::vector<uint8_t>& der);

}  // namespace nimbex_cli
