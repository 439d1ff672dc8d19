#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/CertificateRecord.h"

// Decoding of the sign server's answers to the certificate, key and PIN
// operations. Every failure is a KelException; no input makes them crash.

// The record of a certificate object. When `value` holds none, throws
// `message` with `code`.
CertificateRecord RequireCertificateRecord(const Json::Value& value, const char* message,
                                           uint32_t code);

// An answer that holds one certificate record. A body that is not JSON throws
// `notJsonMessage` (0x80090020); otherwise as RequireCertificateRecord.
CertificateRecord DecodeCertificateAnswer(const std::string& body, const char* notJsonMessage,
                                          const char* wrongMessage, uint32_t wrongCode);

// True for the result of an operation that answers nothing: null, an empty
// array or an empty object.
bool IsEmptyResult(const Json::Value& result);

// The text of a key parameter answer: a JSON string as it stands, null as "",
// a number or bool as the JSON library writes it. Anything else (not JSON,
// an array, an object) throws "Cannot decode server response. KeyParameter
// request failed." (0x80090020).
std::string DecodeKeyParameterAnswer(const std::string& body);

// A numeric key parameter read back: its leading decimal digits; no digits,
// or a number beyond 32 bits, give 0.
uint32_t KeyParameterNumber(const std::string& text);

// A bytes key parameter read back: the Base64 text decoded; text that does not
// decode gives no bytes.
std::vector<unsigned char> KeyParameterBytes(const std::string& text);

// The count a valid PIN reports in the older answer form (a bare boolean).
constexpr uint32_t kPinAttemptsAfterValidPin = 10;

// The answer to a PIN validation: the bare boolean of the older form (the
// count becomes kPinAttemptsAfterValidPin when valid, else one less, never
// below 0), or {"IsValid", "Remaining", "ErrorDescription"} (the count becomes
// "Remaining"). attemptsLeft may be null. A refusal other than "invalid_pin"
// or "key_blocked" throws "PIN verification error:" and the description.
bool DecodePinValidationAnswer(const std::string& body, uint32_t* attemptsLeft);
