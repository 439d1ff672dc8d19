#include "protocol/KeyAgreementRequest.h"

#include <json/value.h>

#include "base/SecretText.h"

SecretString MakeAgreeKeyRequest(uint32_t id, const std::string& peerKeyBase64,
                                 const std::string& ukmBase64, const std::string& maskBase64,
                                 std::string_view pin, uint32_t algId) {
    SecretJson request(Json::objectValue);
    request["PublicKeyInfo"] = peerKeyBase64;
    request["Ukm"] = ukmBase64;
    request["Mask"] = maskBase64;
    request["CertificateId"] = Json::UInt(id);
    if (!pin.empty()) request["PinCode"] = JsonStringOf(pin);
    if (algId == kLongVkoAlgId) request["VkoAlgid"] = Json::UInt(algId);
    return WriteSecretJson(request);
}
