#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "base/SecretString.h"

// The key agreement algorithm of the long form (64-byte result); the only
// value that is sent as "VkoAlgid".
constexpr uint32_t kLongVkoAlgId = 26146;

// The body of a key agreement request ("keys/agree"): "CertificateId",
// "Mask", "PinCode" (only when not empty), "PublicKeyInfo", "Ukm" and
// "VkoAlgid" (only when algId is kLongVkoAlgId), written with
// Json::FastWriter. The three byte strings are given in Base64. The body
// holds the PIN: a secret.
SecretString MakeAgreeKeyRequest(uint32_t id, const std::string& peerKeyBase64,
                                 const std::string& ukmBase64, const std::string& maskBase64,
                                 std::string_view pin, uint32_t algId);
