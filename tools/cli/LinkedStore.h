#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace nimbex_cli {

// A certificate of the store "My" whose key-provider link names a container
// of the "CLOUD" reader.
struct LinkedCertificate {
    std::string link;       // "CLOUD\<service>\<container>"
    std::string service;    // the part between the two backslashes
    std::string container;  // the part after the second
    std::string provider;
    uint32_t providerType = 0;
    std::vector<uint8_t> der;
};

// The linked certificates of the user's (or the machine's) store "My", in
// store order; none when the store does not exist.
std::vector<LinkedCertificate> ReadLinkedCertificates(bool machine);

// UTF-8 and back, for provider and container names.
std::wstring Widen(const std::string& text);

}  // namespace nimbex_cli
