// Service operations of KelContainerConnector that this module version does
// not perform yet: each answers "not supported" (0x80090029).
#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "operations/KelContainerConnector.h"

void KelContainerConnector::ThrowNotSupported(const char* operation) const {
    throw KelException(
        std::string("The operation ") + operation + " is not supported by this module version",
        codes::kNotSupported);
}

std::vector<CertificateRecord> KelContainerConnector::GetCertificates() {
    ThrowNotSupported("GetCertificates");
}

CertificateRecord KelContainerConnector::GetCertificate(uint32_t) {
    ThrowNotSupported("GetCertificate");
}

CertificateRecord KelContainerConnector::InstallPfx(const std::vector<unsigned char>&,
                                                    const std::string&) {
    ThrowNotSupported("InstallPfx");
}

CertificateRecord KelContainerConnector::InstallPfxBase64(const std::string&, const std::string&) {
    ThrowNotSupported("InstallPfxBase64");
}

CertificateRecord KelContainerConnector::CreateKey(uint32_t, const std::string&, const std::string&,
                                                   uint32_t) {
    ThrowNotSupported("CreateKey");
}

CertificateRecord KelContainerConnector::InstallCertificate(const unsigned char*, uint32_t) {
    ThrowNotSupported("InstallCertificate");
}

void KelContainerConnector::SetContainerExtensions(uint32_t, const std::vector<unsigned char>&) {
    ThrowNotSupported("SetContainerExtensions");
}

std::vector<unsigned char> KelContainerConnector::GetContainerExtensions(uint32_t) {
    ThrowNotSupported("GetContainerExtensions");
}

void KelContainerConnector::SetKeyPermissions(uint32_t, uint32_t) {
    ThrowNotSupported("SetKeyPermissions");
}

uint32_t KelContainerConnector::GetKeyPermissions(uint32_t) {
    ThrowNotSupported("GetKeyPermissions");
}

void KelContainerConnector::SetKeySpec(uint32_t, uint32_t) {
    ThrowNotSupported("SetKeySpec");
}

uint32_t KelContainerConnector::GetKeySpec(uint32_t) {
    ThrowNotSupported("GetKeySpec");
}

void KelContainerConnector::DeleteCertificate(uint32_t) {
    ThrowNotSupported("DeleteCertificate");
}

void KelContainerConnector::Sign(uint32_t, const unsigned char*, uint32_t, uint32_t,
                                 const std::string&, unsigned char*, uint32_t*, bool,
                                 const unsigned char*, uint32_t) {
    ThrowNotSupported("Sign");
}

void KelContainerConnector::AgreeKey(uint32_t, const unsigned char*, uint32_t, const unsigned char*,
                                     uint32_t, const unsigned char*, uint32_t, const std::string&,
                                     uint32_t, unsigned char*, uint32_t*) {
    ThrowNotSupported("AgreeKey");
}

bool KelContainerConnector::ValidatePin(uint32_t, const std::string&, uint32_t*) {
    ThrowNotSupported("ValidatePin");
}

void KelContainerConnector::ChangePin(uint32_t, const std::string&, const std::string&) {
    ThrowNotSupported("ChangePin");
}

bool KelContainerConnector::FindCertificateByThumbprint(const std::vector<unsigned char>&,
                                                        uint32_t*) {
    ThrowNotSupported("FindCertificateByThumbprint");
}
