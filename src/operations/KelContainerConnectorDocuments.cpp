// The document store of KelContainerConnector: upload, download and deletion
// of the documents that version 2 signing works on.
#include <cstdint>
#include <cstring>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "operations/KelContainerConnector.h"
#include "protocol/DocumentStoreRequests.h"
#include "protocol/RequestHeaders.h"
#include "protocol/ServiceUrls.h"

namespace {

std::vector<SecretString> BearerHeaders(const SecretString& accessToken) {
    return MakeRequestHeaders(accessToken, std::string_view(), SecretString(), SecretString());
}

}  // namespace

std::string KelContainerConnector::UploadDocument(const unsigned char* data, size_t size) {
    if (data == nullptr || size == 0) return std::string();
    const std::string url = docstoreUrl_ + service_paths::kDocuments;
    std::vector<SecretString> headers = BearerHeaders(accessToken_.value);
    headers.push_back("Content-Type: application/octet-stream; charset=utf-8");
    headers.push_back("cache-control: no-cache");
    headers.push_back("VLKEL-POSTDOC: " + MakeUploadMetadata(size));
    // Straight through the transport, the document sent from where it lies.
    const std::string answer =
        Request(url, headers, std::string_view(reinterpret_cast<const char*>(data), size));
    return DecodeUploadAnswer(answer);
}

void KelContainerConnector::GetDocumentContent(const std::string& id, unsigned char* buffer,
                                               uint32_t* length) {
    const std::string url = docstoreUrl_ + service_paths::kDocuments + "/" + id + "/content";
    std::vector<SecretString> headers = BearerHeaders(accessToken_.value);
    headers.push_back("Connection: keep-alive");
    headers.push_back("cache-control: no-cache");
    const std::string answer = SendRequest(url, headers, std::string_view());
    // A buffer is filled only when the whole document fits its capacity.
    if ((static_cast<uint64_t>(answer.size()) >> 32) != 0 ||
        (buffer && (!length || answer.size() > static_cast<size_t>(*length))))
        throw KelException("Cannot decode server response. The document does not fit the buffer.",
                           codes::kFail);
    if (buffer && !answer.empty()) std::memcpy(buffer, answer.data(), answer.size());
    if (length) *length = static_cast<uint32_t>(answer.size());
}

void KelContainerConnector::DeleteDocument(const std::string& id) {
    if (id.empty()) return;
    const std::string url = docstoreUrl_ + service_paths::kDocuments + "/" + id;
    std::vector<SecretString> headers = BearerHeaders(accessToken_.value);
    headers.push_back("cache-control: no-cache");
    if (!SendRequest(url, headers, std::string_view(), "DELETE").empty())
        throw KelException("Not expected non-empty response for delete document command",
                           codes::kNotSupported);
}
