// Certificates of KelContainerConnector: the list, one record, the lookup by
// thumbprint, installation of an issued certificate and deletion.
#include <capi/wincrypt.h>

#include <cstdint>
#include <limits>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "operations/KelContainerConnector.h"
#include "protocol/KeyOperationAnswers.h"
#include "protocol/KeyOperationRequests.h"
#include "protocol/ResponseDecoding.h"

namespace {

const char kCertificatesPath[] = "/rest/api/certificates";

}  // namespace

std::vector<CertificateRecord> KelContainerConnector::GetCertificates() {
    return DecodeCertificateList(RestGet(kCertificatesPath, true));
}

CertificateRecord KelContainerConnector::GetCertificate(uint32_t id) {
    return DecodeCertificateAnswer(
        RestGet(std::string(kCertificatesPath) + "/" + std::to_string(id), true),
        "Cannot decode server response. The certificate is not a JSON.",
        "The certificate in JSON has wrong structure", codes::kNotFound);
}

bool KelContainerConnector::FindCertificateByThumbprint(
    const std::vector<unsigned char>& certificate, uint32_t* id) {
    if (certificate.empty() || certificate.size() > std::numeric_limits<DWORD>::max()) return false;
    PCCERT_CONTEXT context =
        CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certificate.data(),
                                     static_cast<DWORD>(certificate.size()));
    if (!context) return false;
    struct Free {
        PCCERT_CONTEXT context;
        ~Free() { CertFreeCertificateContext(context); }
    } freeContext{context};

    DWORD length = 0;
    if (!CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, nullptr, &length) ||
        length == 0)
        return false;
    std::vector<unsigned char> thumbprint(length);
    if (!CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, thumbprint.data(),
                                           &length) ||
        length == 0)
        return false;
    thumbprint.resize(length);

    const std::vector<CertificateRecord> found =
        DecodeCertificateList(RestGet(std::string(kCertificatesPath) + "?thumbprint=" +
                                          MakeThumbprintQueryValue(thumbprint.data(), length),
                                      true));
    if (found.empty()) return false;
    if (id) *id = found.front().id;
    return true;
}

CertificateRecord KelContainerConnector::InstallCertificate(const unsigned char* certificate,
                                                            uint32_t length) {
    const std::string url = signUrl_ + kCertificatesPath + "/";
    EnsureAuthenticated();
    const std::string answer =
        SendWithBearer(url, MakeCertificateInstallRequest(certificate, certificate ? length : 0));
    return DecodeCertificateAnswer(
        answer, "Cannot decode server response. Certificate installation failed.",
        "Cannot get certificate info from server response. Certificate installation failed.",
        codes::kFail);
}

void KelContainerConnector::DeleteCertificate(uint32_t id) {
    static const char kOperation[] = "DeleteCertificate";
    const std::string url = OperationUrl("certificates/" + std::to_string(id));
    EnsureAuthenticated();
    ConfirmWhenRequired(kOperation, url, std::string(), "DELETE",
                        [&] { ConfirmTransaction(kOperation, id); });
    const std::string answer = SendWithBearer(url, std::string(), "DELETE");
    if (!IsEmptyResult(
            DecodeOperationResponse(*this, kOperation, answer, HasDocumentStore(), true)))
        throw KelException("Not expected non-empty response for delete certificate command",
                           codes::kNotSupported);
}
