#include "protocol/KeyOperationRequests.h"

#include <json/value.h>
#include <json/writer.h>

#include <initializer_list>
#include <utility>

#include "base/SecretText.h"
#include "protocol/TextEncoding.h"

namespace {

typedef std::pair<const char*, std::string_view> Member;

// A JSON object of string members, written compactly; the tree's copies of
// the values are wiped before it goes, so a PIN or password leaves only the
// returned text behind.
SecretString WriteStringObject(std::initializer_list<Member> members) {
    SecretJson object(Json::objectValue);
    for (const Member& m : members) object[m.first] = JsonStringOf(m.second);
    return WriteSecretJson(object);
}

}  // namespace

std::string MakeCertificateInstallRequest(const unsigned char* certificate, size_t length) {
    const std::string encoded = EncodeBase64(certificate, length);
    return std::string(WriteStringObject({{"certificate", encoded}}));
}

std::string MakeThumbprintQueryValue(const unsigned char* thumbprint, size_t length) {
    std::string text = EncodeBase64(thumbprint, length);
    for (char& c : text) {
        if (c == '/')
            c = '_';
        else if (c == '+')
            c = '-';
    }
    return text;
}

SecretString MakeKeyGenerationRequest(uint32_t algId, const std::string& paramSetOid,
                                      std::string_view pin, uint32_t keyLength) {
    const std::string alg = std::to_string(algId);
    const std::string length = std::to_string(keyLength);
    if (keyLength == 0)
        return WriteStringObject(
            {{"AlgId", alg}, {"ParametersOid", paramSetOid}, {"PinCode", pin}});
    return WriteStringObject(
        {{"AlgId", alg}, {"ParametersOid", paramSetOid}, {"PinCode", pin}, {"KeyLength", length}});
}

SecretString MakePfxImportRequest(std::string_view pfxBase64, std::string_view password) {
    return WriteStringObject({{"Pfx", pfxBase64}, {"Password", password}});
}

std::string MakeKeyParameterRequest(const std::string& name, const std::string& text) {
    return std::string(WriteStringObject({{"Param", name}, {"Data", text}}));
}

std::string KeyParameterNumberText(uint32_t value) {
    return value == 0 ? std::string() : std::to_string(value);
}

SecretString MakePinChangeRequest(std::string_view oldPin, std::string_view newPin) {
    return WriteStringObject({{"OldPin", oldPin}, {"NewPin", newPin}, {"ConfirmedPin", newPin}});
}

SecretString MakePinValidationBody(std::string_view pin) {
    const SecretString encoded = PercentEncodeSecret(pin);
    SecretString body;
    body.reserve(encoded.size() + 1);
    body += '=';
    body += encoded;
    return body;
}
