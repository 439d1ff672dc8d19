// Signing on the service (KelContainerConnector::Sign): the version 1 request
// that carries the data in its body, and the version 2 request over documents
// uploaded to the document store.
#include <json/value.h>

#include <exception>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "operations/KelContainerConnector.h"
#include "protocol/Base64Result.h"
#include "protocol/RequestHeaders.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/ServiceUrls.h"
#include "protocol/SignatureRequests.h"

namespace {

const char kSignDocument[] = "SignDocument";

}  // namespace

void KelContainerConnector::Sign(uint32_t id, const unsigned char* data, uint32_t dataLength,
                                 uint32_t hashAlgId, std::string_view pin, unsigned char* signature,
                                 uint32_t* signatureLength, bool isDocument,
                                 const unsigned char* displayDocument,
                                 uint32_t displayDocumentLength) {
    EnsureAuthenticated();
    const bool confirm = IsMfaRequired(kSignDocument);
    if (HasDocumentStore())
        SignOverDocuments(confirm, id, data, dataLength, hashAlgId, pin, signature, signatureLength,
                          displayDocument, displayDocumentLength);
    else
        SignInBody(confirm, id, data, dataLength, hashAlgId, pin, signature, signatureLength,
                   isDocument, displayDocument, displayDocumentLength);
}

// Version 2: the data and the display document go to the document store, the
// sign server signs the stored data and stores the signature as a document,
// which is downloaded. Uploads stay in the store when anything fails before
// the signature is made; once it is made the three documents are deleted.
void KelContainerConnector::SignOverDocuments(bool confirm, uint32_t id, const unsigned char* data,
                                              uint32_t dataLength, uint32_t hashAlgId,
                                              std::string_view pin, unsigned char* signature,
                                              uint32_t* signatureLength,
                                              const unsigned char* displayDocument,
                                              uint32_t displayLength) {
    const std::string url = signUrl_ + service_paths::kRestApi + "v2/signature";
    const std::string dataId = UploadDocument(data, dataLength);
    const std::string displayId = UploadDocument(displayDocument, displayLength);
    const SecretString body = MakeSignRequestV2(id, hashAlgId, pin, dataId, displayId);
    if (confirm) ConfirmOperationV2(kSignDocument, url, body, nullptr);

    const std::vector<SecretString> headers =
        MakeSignedRequestHeaders(signatureCreator_, url, accessToken_.value, body);
    // Straight through the transport: a signing is not repeated after renewal.
    const std::string answer = Request(url, headers, body);
    const Json::Value result = DecodeOperationResponse(*this, kSignDocument, answer, true, false);
    const std::string signatureId = DecodeSignatureDocumentId(*this, result);

    try {
        GetDocumentContent(signatureId, signature, signatureLength);
    } catch (...) {
        // The signature exists but does not reach the caller (it does not fit,
        // or the download failed): its documents go all the same, and the
        // download's failure is what the caller learns.
        const std::exception_ptr failure = std::current_exception();
        for (const std::string* doc : {&dataId, &displayId, &signatureId}) {
            try {
                DeleteDocument(*doc);
            } catch (...) {
            }
        }
        std::rethrow_exception(failure);
    }
    DeleteDocument(dataId);
    DeleteDocument(displayId);
    DeleteDocument(signatureId);
}

// Version 1: the data travels in the body of the signing request, or in the
// confirmed transaction when confirmation is needed.
void KelContainerConnector::SignInBody(bool confirm, uint32_t id, const unsigned char* data,
                                       uint32_t dataLength, uint32_t hashAlgId,
                                       std::string_view pin, unsigned char* signature,
                                       uint32_t* signatureLength, bool isDocument,
                                       const unsigned char* displayDocument,
                                       uint32_t displayLength) {
    const std::string url = signUrl_ + service_paths::kRestApi + "documents";
    if (confirm)
        ConfirmTransaction(kSignDocument, id, data, dataLength, hashAlgId, isDocument,
                           displayDocument, displayLength);
    const SecretString body =
        confirm ? MakeConfirmedSignRequestV1(pin)
                : MakeSignRequestV1(id, data, dataLength, hashAlgId, pin, isDocument);
    std::vector<SecretString> headers =
        MakeSignedRequestHeaders(signatureCreator_, url, accessToken_.value, body);
    const std::string answer = SendRequest(url, headers, body);

    static const char kPrefix[] = "Cannot decode server response. The signature is ";
    switch (DecodeBase64Answer(answer, signature, signatureLength)) {
        case Base64AnswerFault::kNone:
            return;
        case Base64AnswerFault::kNotJson:
            throw KelException(std::string(kPrefix) + "not a JSON.", codes::kFail);
        case Base64AnswerFault::kNotString:
            throw KelException(std::string(kPrefix) + "not a string.", codes::kFail);
        case Base64AnswerFault::kNotBase64:
            break;
    }
    throw KelException(std::string(kPrefix) + "not a Base64 string.", codes::kFail);
}
