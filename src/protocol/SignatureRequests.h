#pragma once
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/SecretString.h"

class KelUrlRetriever;

// The name under which data to be signed is shown to the user: the document
// name of a version 1 signing request and the file name of a document store
// upload.
extern const char kSignedDocumentName[];

// The body of a version 1 signing request ("/rest/api/documents") that
// carries the data: "Content" (the data in Base64), "Name" and "Signature"
// with "CertificateId", "Parameters" ({"Hash": "True"} for a hash,
// "HashAlgorithm" when not 0, null when neither), "PinCode" when not empty
// and "Type" 1. The text is exactly what Json::FastWriter writes for that
// object; the Base64 is written straight into it, so the data is encoded once
// and the text is not copied. The body holds the PIN: a secret.
SecretString MakeSignRequestV1(uint32_t id, const unsigned char* data, size_t size,
                               uint32_t hashAlgId, std::string_view pin, bool isDocument);

// The version 1 signing request after a confirmed transaction, which carried
// the data: {"Signature": {"PinCode": pin}}, or {"Signature": null} without a
// PIN.
SecretString MakeConfirmedSignRequestV1(std::string_view pin);

// The body of a version 2 signing request ("/rest/api/v2/signature"): one
// "BinaryData" element naming the uploaded data ("RefId") and the uploaded
// display document ("RelatedRefId", only when displayId is not empty), and
// "Signature" with "CertificateId", "Parameters" {"Hash": "True",
// "HashAlgorithm" when not 0}, "PinCode" when not empty and "Type" 1.
SecretString MakeSignRequestV2(uint32_t id, uint32_t hashAlgId, std::string_view pin,
                               const std::string& dataId, const std::string& displayId);

// The document id of the signature in the result of a completed version 2
// signing: the "RefId" of the first element of "ProcessedDocuments". An
// element that is an error answer throws the service's error; any other
// shape throws "Cannot decode server response. The SignDocumentV2 response
// is a wrong JSON." (0x80090020).
std::string DecodeSignatureDocumentId(const KelUrlRetriever& transport, const Json::Value& result);
