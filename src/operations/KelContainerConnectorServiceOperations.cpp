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
