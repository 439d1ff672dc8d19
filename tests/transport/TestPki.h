#pragma once
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

namespace transport_test {

// A key pair and its certificate, owned.
struct Identity {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    Identity() = default;
    Identity(Identity&& other) noexcept;
    Identity& operator=(Identity&&) = delete;
    Identity(const Identity&) = delete;
    ~Identity();
};

// A throw-away certificate authority made at run time, and server identities
// it issues (EC P-256, valid from an hour ago for a day).
class TestPki {
  public:
    explicit TestPki(const char* caName = "nimbex test CA");
    // A server certificate with the common name and the subjectAltName list
    // (OpenSSL syntax, e.g. "IP:127.0.0.1,DNS:localhost").
    Identity IssueServer(const char* commonName, const char* altNames) const;
    // Writes the CA certificate as PEM to path.
    void WriteCaPem(const std::string& path) const;
    X509* ca() const { return ca_.cert; }

  private:
    Identity ca_;
};

}  // namespace transport_test
