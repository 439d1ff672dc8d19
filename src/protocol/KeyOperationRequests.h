#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/SecretString.h"

// The request bodies of the certificate, key and PIN operations, as the sign
// server takes them: compact JSON (Json::FastWriter) with string members.
// Bodies that carry a PIN or a password are secret strings.

// {"certificate": Base64 of the DER bytes}
std::string MakeCertificateInstallRequest(const unsigned char* certificate, size_t length);

// The value of the "thumbprint" query: Base64 of the SHA-1 thumbprint made
// URL-safe ("+" becomes "-", "/" becomes "_"); the "=" padding stays.
std::string MakeThumbprintQueryValue(const unsigned char* thumbprint, size_t length);

// {"AlgId", "ParametersOid", "PinCode", "KeyLength"}: the numbers in decimal,
// "KeyLength" only when not 0, "PinCode" also when empty.
SecretString MakeKeyGenerationRequest(uint32_t algId, const std::string& paramSetOid,
                                      std::string_view pin, uint32_t keyLength);

// {"Pfx", "Password"}
SecretString MakePfxImportRequest(std::string_view pfxBase64, std::string_view password);

// {"Param", "Data"}
std::string MakeKeyParameterRequest(const std::string& name, const std::string& text);

// The stored text of a numeric key parameter: decimal without leading zeros,
// the value 0 as the empty string.
std::string KeyParameterNumberText(uint32_t value);

// {"OldPin", "NewPin", "ConfirmedPin"}, the last equal to the new PIN.
SecretString MakePinChangeRequest(std::string_view oldPin, std::string_view newPin);

// Not JSON: "=" followed by the percent-encoded PIN.
SecretString MakePinValidationBody(std::string_view pin);
