// Steps that the certificate, key and PIN operations of KelContainerConnector
// share: the URL of an operation with a "v2/" form, a request with the bearer
// line, and confirmation when the policy asks for it.
#include "operations/KelContainerConnector.h"
#include "protocol/RequestHeaders.h"
#include "protocol/ServiceUrls.h"

std::string KelContainerConnector::OperationUrl(const std::string& tail) const {
    return signUrl_ + service_paths::kRestApi + (docstoreUrl_.empty() ? "" : "v2/") + tail;
}

std::string KelContainerConnector::SendWithBearer(const std::string& url, std::string_view body,
                                                  const char* method) {
    std::vector<SecretString> headers =
        MakeRequestHeaders(accessToken_.value, body, SecretString(), SecretString());
    return SendRequest(url, headers, body, method);
}

void KelContainerConnector::ConfirmWhenRequired(const std::string& operation,
                                                const std::string& url, std::string_view body,
                                                const char* method,
                                                const std::function<void()>& confirmTransaction) {
    if (!IsMfaRequired(operation)) return;
    if (HasDocumentStore())
        ConfirmOperationV2(operation, url, body, method);
    else
        confirmTransaction();
}
