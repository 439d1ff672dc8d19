#pragma once
#include <cstddef>
#include <string>

// Documents from this size on are uploaded as large files ("SmallFile" false).
constexpr size_t kSmallFileLimit = 10485760;

// The "VLKEL-POSTDOC" value of a document upload of `size` bytes: the Base64
// of the Json::FastWriter text of {"AdditionalInfo": {"SmallFile": size <
// kSmallFileLimit}, "Filename": kSignedDocumentName}.
std::string MakeUploadMetadata(size_t size);

// The document id in the answer to an upload: the string "DocumentId".
// Throws "Cannot decode server response. The upload document operation
// response is not a JSON." or "... is a wrong JSON." (0x80090020); an error
// answer of the store is a wrong JSON too.
std::string DecodeUploadAnswer(const std::string& answer);
