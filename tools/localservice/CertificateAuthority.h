#pragma once
#include <string>

#include "Codec.h"
#include "OpenSslPtr.h"

namespace localservice {

// The service's own CA: created in the state directory at first start and reused later.
// It issues the TLS certificate of the service and the certificates of the users' keys.
class CertificateAuthority {
  public:
    // Loads "ca.pem" and "ca-key.pem" from dir, or creates and writes them.
    explicit CertificateAuthority(const std::string& dir);
    const std::string& caFile() const { return caFile_; }

    // A certificate for key, subject CN=commonName, signed by the CA. DER bytes.
    Bytes issueUserCertificate(EVP_PKEY* key, const std::string& commonName) const;
    // Writes "server.pem"/"server-key.pem" for 127.0.0.1 and localhost unless present.
    void ensureServerCertificate(const std::string& dir, std::string& certPath,
                                 std::string& keyPath) const;

  private:
    X509Ptr issue(EVP_PKEY* key, const std::string& commonName, bool server) const;
    std::string caFile_;
    PkeyPtr caKey_;
    X509Ptr caCert_;
};

// PEM and DER helpers shared by the key store.
PkeyPtr generateKey(const std::string& type, unsigned rsaBits);
bool writePrivateKeyPem(const std::string& path, EVP_PKEY* key);
PkeyPtr readPrivateKeyPem(const std::string& path);
bool writeFile(const std::string& path, const Bytes& data);
bool readFile(const std::string& path, Bytes& data);
Bytes certificateToDer(X509* cert);

}  // namespace localservice
