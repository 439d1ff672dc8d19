// Trusted roots for HTTPS: the system CA store plus an optional extra CA file.
#pragma once
#include <openssl/x509_vfy.h>

#include <string>

// The configured extra CA file: the environment variable NIMBEX_CA_FILE when
// set and not empty, else the registry string "\config\KeyDevices\Cloud\CAFile",
// else empty (system CAs only).
std::string ConfiguredCaFile();

// A store holding the system CAs and, when extraCaFile is not empty, the
// certificates of that file (PEM). Built once per file (rebuilt when the file
// changes) and shared by every connection; the caller gets its own reference
// and frees it with X509_STORE_free. Null when the extra file cannot be read
// or holds no certificate.
X509_STORE* AcquireTrustStore(const std::string& extraCaFile);
