#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace csphost {

class Session;

enum class CmsFormat { kDer, kPem };

// Signs documents as a CSP does for CMS, with the key of the session's open
// container: the document is hashed through the reader (which keeps it), the
// signed attributes carry that hash as their message digest, their DER is
// hashed through the reader too, and sign_hash signs that hash with no hash
// handle, so that the reader finds the document behind it and the service
// receives it as the display document. The result is a detached CMS
// SignedData with the signer's certificate, built with OpenSSL without the
// private key. Failures are HostError (the reader's code, or 0x80090020 for
// OpenSSL and file errors).
class CmsSigner {
  public:
    // `certificate`: the DER of the open container's certificate.
    // `hashAlgId`: 0x8004 (SHA-1), 0x800C, 0x800D or 0x800E (SHA-256/384/512), or
    // 0x8021 and 0x8022 (GOST R 34.11-2012, 256 and 512 bits; for GOST keys, with the
    // GOST engine).
    CmsSigner(Session& session, std::vector<unsigned char> certificate,
              uint32_t hashAlgId = 0x800C);

    // The certificate is read from the open container (the signature key's
    // file, else the exchange key's).
    explicit CmsSigner(Session& session, uint32_t hashAlgId = 0x800C);

    std::vector<unsigned char> Sign(const std::vector<unsigned char>& document,
                                    CmsFormat format) const;
    // Reads `documentPath` whole and writes the signature to `outputPath`.
    void SignFile(const std::string& documentPath, const std::string& outputPath,
                  CmsFormat format) const;

  private:
    Session* session_;
    std::vector<unsigned char> certificate_;
    uint32_t hashAlgId_;
};

}  // namespace csphost
