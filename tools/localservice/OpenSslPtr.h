#pragma once
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace localservice {

struct EvpPkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct EvpPkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree>;
using SharedPkey = std::shared_ptr<EVP_PKEY>;

inline SharedPkey shareKey(PkeyPtr p) {
    return SharedPkey(p.release(), EvpPkeyFree());
}

}  // namespace localservice
