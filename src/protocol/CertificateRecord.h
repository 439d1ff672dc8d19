#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What the service says about one certificate.
struct CertificateRecord {
    std::vector<unsigned char> certificate;  // DER bytes
    uint32_t id = 0;                         // the service's numeric id
    std::string friendlyName;
    int hasPin = 0;  // 0 not stated, 1 the key has a PIN, 2 it has none
};
