#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/JsonFields.h"
#include "protocol/CertificateRecord.h"
#include "protocol/ServerPolicy.h"

class KelUrlRetriever;

// True for a service error answer: "Status" is the string "Error", or "Error"
// or "ErrorDescription" is a string. A value that is not an object is not one.
bool IsErrorResponse(const Json::Value& value);

// Throws the KelException that an error answer stands for: its "Error" name
// mapped through the transport's error table, with the "ErrorDescription".
[[noreturn]] void ThrowServiceError(const KelUrlRetriever& transport, const Json::Value& value,
                                    const std::string& operation);

// Decodes the answer of a sign server operation. Version 1 answers are
// returned as parsed; version 2 answers are unwrapped from their "Operation"
// envelope. With emptyAllowed (version 1 only) the body is not parsed: an
// empty body gives null, any other the string "\"non_empty_value\"".
Json::Value DecodeOperationResponse(const KelUrlRetriever& transport, const std::string& operation,
                                    const std::string& body, bool version2, bool emptyAllowed);

// Decodes a Base64 JSON string value straight from the value's own storage,
// without copying the text. Throws as DecodeBase64 does ("Cannot decode empty
// Base64 value", "Cannot decode Base64 value"); a value that is not a string
// throws "Cannot decode Base64 value".
std::vector<unsigned char> DecodeBase64Value(const Json::Value& value);

// Fills `record` from a certificate object; false (record untouched) when
// "CertificateBase64" is not a string or "ID" not integral.
bool DecodeCertificateRecord(const Json::Value& value, CertificateRecord& record);

// The records of a JSON array of certificate objects; unusable elements are
// skipped.
std::vector<CertificateRecord> DecodeCertificateList(const std::string& body);

// Applies the answer to GET /rest/api/policy to `policy` and marks it loaded.
void DecodeServerPolicy(ServerPolicy& policy, const std::string& body);

// {"Name": name, "Value": value}
Json::Value MakeNameValue(const std::string& name, const std::string& value);

// The compact JSON of a transaction request: "OperationCode", "Parameters"
// and, for a non-empty document, "Document" in Base64.
std::string MakeOperationRequest(const std::string& operationCode, const Json::Value& parameters,
                                 const std::vector<unsigned char>* document);
