#include "container/CertificateHandles.h"

bool PropertyBuffer::Read(PCCERT_CONTEXT context, DWORD propId) {
    words_.clear();
    size_ = 0;
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, propId, nullptr, &size)) return false;
    words_.assign((size + sizeof(unsigned long long) - 1) / sizeof(unsigned long long), 0);
    if (size && !CertGetCertificateContextProperty(context, propId, words_.data(), &size)) {
        words_.clear();
        return false;
    }
    size_ = size;
    return true;
}
