#pragma once
#include <capi/wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/ServerSettings.h"

// The key-provider link (certificate property 2) that ties a certificate in
// the store "My" to a container of the "CLOUD" reader: the container name
// "CLOUD\<service>\<container>", the CSP provider, and provider parameters
// with id 222 whose data is (32-bit id, 32-bit length, payload).

constexpr DWORD kCloudLinkParamId = 222;
constexpr uint32_t kLinkAuthUrl = 1;          // NUL-terminated text (older links)
constexpr uint32_t kLinkRestUrl = 2;          // NUL-terminated text (older links)
constexpr uint32_t kLinkCertificateId = 8;    // 32-bit
constexpr uint32_t kLinkExtensions = 9;       // bytes
constexpr uint32_t kLinkKeyPermissions = 10;  // 32-bit

// One provider parameter of the link.
struct CloudLinkParam {
    uint32_t id = 0;
    std::vector<unsigned char> payload;

    CloudLinkParam() = default;
    CloudLinkParam(uint32_t id, std::vector<unsigned char> payload)
        : id(id), payload(std::move(payload)) {}
    static CloudLinkParam FromNumber(uint32_t id, uint32_t value);
    // (id, length, payload): the parameter's data as stored.
    std::vector<unsigned char> Blob() const;
    // The payload as a 32-bit number; false when it is shorter than 4 bytes.
    bool Number(uint32_t* value) const;
    // The payload up to its first NUL.
    std::string Text() const;
};

// The parameters with id 222 of a key-provider record, in order. Data shorter
// than 8 bytes is skipped; a length past the data is cut to the data.
std::vector<CloudLinkParam> ReadCloudLinkParams(const CRYPT_KEY_PROV_INFO& info);

// What a certificate's link says.
struct CloudContainerLink {
    std::string containerName;
    std::string serviceName;
    std::string authUrl;  // from id 1
    std::string restUrl;  // from id 2
    bool isCloud = false;
};

// Writes the link on the certificate and adds it (replacing) to the store
// "My" of the machine or of the current user. Returns 0 or the platform's
// last error. Throws KelException("Cannot use the supplied container name")
// and ("The certificate context is not inited"), both 0x80090020. A provider
// is chosen with SelectProvider unless both name and a non-zero type are given.
uint32_t InstallCloudCertificate(PCCERT_CONTEXT certificate, const std::string& containerName,
                                 const ServerSettings& settings,
                                 const std::vector<CloudLinkParam>& params, bool machineWide,
                                 const wchar_t* providerName, uint32_t providerType,
                                 uint32_t keySpec);

// Builds the parameters (id 8; id 10 when non-zero; id 9 when not empty) and
// installs.
uint32_t InstallCloudCertificateWithSettings(
    PCCERT_CONTEXT certificate, const std::string& containerName, const ServerSettings& settings,
    uint32_t certificateId, uint32_t keyPermissions, const std::vector<unsigned char>& extensions,
    bool machineWide, const wchar_t* providerName, uint32_t providerType, uint32_t keySpec);

// The same over the DER (or PKCS #7) bytes of a certificate.
uint32_t InstallCloudCertificateFromBytes(const std::vector<unsigned char>& certificate,
                                          const std::string& containerName,
                                          const ServerSettings& settings, uint32_t certificateId,
                                          uint32_t keyPermissions,
                                          const std::vector<unsigned char>& extensions,
                                          bool machineWide, const wchar_t* providerName,
                                          uint32_t providerType, uint32_t keySpec);

// The provider for the certificate's public key algorithm: among the
// installed providers of the matching type, those whose reader list names
// "CLOUD"; a provider whose parameter 0x81 is 1 ends the search, otherwise
// the last one wins; the type's default name when none qualifies.
void SelectProvider(PCCERT_CONTEXT certificate, std::wstring* providerName, uint32_t* providerType);

// Never throws: a certificate without a readable cloud link gives isCloud false.
CloudContainerLink ReadCloudContainerLink(PCCERT_CONTEXT certificate);

// Saves a per-user settings entry for every linked certificate of the user's
// store whose link names no service but carries both URLs of a service that
// is not stored yet. Settings and registry failures propagate.
void UpdateSettingsFromCertificates();
