#include "container/CloudCertificateLink.h"

#include <cstring>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "config/ContainerNaming.h"
#include "container/CertificateHandles.h"

namespace {

constexpr size_t kMaxContainerChars = 260;
constexpr size_t kProviderNameBytes = 1044;
const char kCloudPrefix[] = "CLOUD\\";
constexpr size_t kCloudPrefixLength = 6;

struct ProviderChoice {
    uint32_t type;
    const wchar_t* defaultName;
};

ProviderChoice ProviderForAlgorithm(const char* oid) {
    static const struct {
        const char* oid;
        ProviderChoice choice;
    } table[] = {
        {"1.2.643.2.2.19", {75, L"Veltra GOST R 34.10-2001 Cryptographic Service Provider"}},
        {"1.2.643.7.1.1.1.1", {80, L"Veltra GOST R 34.10-2012 Cryptographic Service Provider"}},
        {"1.2.643.7.1.1.1.2",
         {81, L"Veltra GOST R 34.10-2012 Strong Cryptographic Service Provider"}},
        {"1.2.840.113549.1.1.1", {24, L"Veltra Enhanced RSA and AES CSP"}},
        {"1.2.840.10045.2.1", {16, L"Veltra ECDSA and AES CSP"}},
    };
    if (oid)
        for (const auto& row : table)
            if (strcmp(row.oid, oid) == 0) return row.choice;
    return table[0].choice;
}

// Whether the provider (acquired) lists the reader "CLOUD".
bool ListsCloudReader(HCRYPTPROV prov) {
    DWORD size = 0;
    if (!CryptGetProvParam(prov, PP_ENUMREADERS, nullptr, &size, CRYPT_FIRST) || size == 0)
        return false;
    std::vector<unsigned char> entry(size);
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        std::fill(entry.begin(), entry.end(), 0);
        DWORD length = size;
        if (!CryptGetProvParam(prov, PP_ENUMREADERS, entry.data(), &length, flags)) return false;
        flags = 0;
        length = std::min<DWORD>(length, size);
        const char* text = reinterpret_cast<const char*>(entry.data());
        size_t first = strnlen(text, length);
        if (first < length) {
            const char* second = text + first + 1;
            size_t secondLength = strnlen(second, length - first - 1);
            if (secondLength < length - first - 1 && strcmp(second, "CLOUD") == 0) return true;
        }
    }
}

uint32_t LastErrorOrFail() {
    DWORD error = GetLastError();
    return error ? error : codes::kFail;
}

}  // namespace

CloudLinkParam CloudLinkParam::FromNumber(uint32_t id, uint32_t value) {
    std::vector<unsigned char> payload(4);
    memcpy(payload.data(), &value, 4);
    return CloudLinkParam(id, std::move(payload));
}

std::vector<unsigned char> CloudLinkParam::Blob() const {
    std::vector<unsigned char> blob(8 + payload.size());
    uint32_t length = static_cast<uint32_t>(payload.size());
    memcpy(blob.data(), &id, 4);
    memcpy(blob.data() + 4, &length, 4);
    if (!payload.empty()) memcpy(blob.data() + 8, payload.data(), payload.size());
    return blob;
}

bool CloudLinkParam::Number(uint32_t* value) const {
    if (payload.size() < 4) return false;
    memcpy(value, payload.data(), 4);
    return true;
}

std::string CloudLinkParam::Text() const {
    if (payload.empty()) return std::string();
    const char* text = reinterpret_cast<const char*>(payload.data());
    return std::string(text, strnlen(text, payload.size()));
}

std::vector<CloudLinkParam> ReadCloudLinkParams(const CRYPT_KEY_PROV_INFO& info) {
    std::vector<CloudLinkParam> params;
    if (!info.rgProvParam) return params;
    for (DWORD i = 0; i < info.cProvParam; ++i) {
        const CRYPT_KEY_PROV_PARAM& p = info.rgProvParam[i];
        if (p.dwParam != kCloudLinkParamId || !p.pbData || p.cbData < 8) continue;
        uint32_t id, length;
        memcpy(&id, p.pbData, 4);
        memcpy(&length, p.pbData + 4, 4);
        size_t available = p.cbData - 8;
        size_t n = length < available ? length : available;
        params.emplace_back(id, std::vector<unsigned char>(p.pbData + 8, p.pbData + 8 + n));
    }
    return params;
}

void SelectProvider(PCCERT_CONTEXT certificate, std::wstring* providerName,
                    uint32_t* providerType) {
    const char* oid = certificate && certificate->pCertInfo
                          ? certificate->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId
                          : nullptr;
    const ProviderChoice wanted = ProviderForAlgorithm(oid);
    std::wstring chosen;
    std::vector<WCHAR> name(kProviderNameBytes / sizeof(WCHAR));
    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD size = kProviderNameBytes;
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, name.data(), &size)) break;
        if (type != wanted.type) continue;
        name.back() = 0;
        HCRYPTPROV prov = 0;
        if (!CryptAcquireContextW(&prov, nullptr, name.data(), type, CRYPT_VERIFYCONTEXT)) continue;
        DWORD preferred = 0;
        DWORD preferredSize = sizeof preferred;
        if (!CryptGetProvParam(prov, PP_PREFERRED, reinterpret_cast<BYTE*>(&preferred),
                               &preferredSize, 0)) {
            CryptReleaseContext(prov, 0);
            continue;
        }
        bool qualifies = ListsCloudReader(prov);
        CryptReleaseContext(prov, 0);
        if (!qualifies) continue;
        chosen = name.data();
        if (preferred == 1) break;
    }
    *providerName = chosen.empty() ? std::wstring(wanted.defaultName) : chosen;
    *providerType = wanted.type;
}

uint32_t InstallCloudCertificate(PCCERT_CONTEXT certificate, const std::string& containerName,
                                 const ServerSettings& settings,
                                 const std::vector<CloudLinkParam>& params, bool machineWide,
                                 const wchar_t* providerName, uint32_t providerType,
                                 uint32_t keySpec) {
    const std::string fullName = kCloudPrefix + settings.name + "\\" + containerName;
    WCHAR wideName[kMaxContainerChars];
    if (fullName.find('\0') != std::string::npos ||
        MultiByteToWideChar(CP_ACP, 0, fullName.c_str(), -1, wideName,
                            static_cast<int>(kMaxContainerChars)) == 0)
        throw KelException("Cannot use the supplied container name", codes::kFail);
    if (!certificate || !certificate->pCertInfo)
        throw KelException("The certificate context is not inited", codes::kFail);

    std::wstring provider;
    uint32_t type = providerType;
    if (providerName && providerType != 0) {
        provider = providerName;
    } else {
        SelectProvider(certificate, &provider, &type);
    }

    std::vector<std::vector<unsigned char>> blobs;
    std::vector<CRYPT_KEY_PROV_PARAM> provParams;
    blobs.reserve(params.size());
    for (const CloudLinkParam& p : params) blobs.push_back(p.Blob());
    for (auto& blob : blobs)
        provParams.push_back({kCloudLinkParamId, blob.data(), static_cast<DWORD>(blob.size()), 0});
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = wideName;
    info.pwszProvName = provider.data();
    info.dwProvType = type;
    info.dwFlags = machineWide ? CRYPT_MACHINE_KEYSET : 0;
    info.cProvParam = static_cast<DWORD>(provParams.size());
    info.rgProvParam = provParams.empty() ? nullptr : provParams.data();
    info.dwKeySpec = keySpec;
    if (!CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info))
        return LastErrorOrFail();

    StoreHandle store(CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        machineWide ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER, L"My"));
    if (!store) return LastErrorOrFail();
    if (!CertAddCertificateContextToStore(store.get(), certificate, CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr))
        return LastErrorOrFail();
    return 0;
}

uint32_t InstallCloudCertificateWithSettings(
    PCCERT_CONTEXT certificate, const std::string& containerName, const ServerSettings& settings,
    uint32_t certificateId, uint32_t keyPermissions, const std::vector<unsigned char>& extensions,
    bool machineWide, const wchar_t* providerName, uint32_t providerType, uint32_t keySpec) {
    std::vector<CloudLinkParam> params;
    params.push_back(CloudLinkParam::FromNumber(kLinkCertificateId, certificateId));
    if (keyPermissions != 0)
        params.push_back(CloudLinkParam::FromNumber(kLinkKeyPermissions, keyPermissions));
    if (!extensions.empty()) params.emplace_back(kLinkExtensions, extensions);
    return InstallCloudCertificate(certificate, containerName, settings, params, machineWide,
                                   providerName, providerType, keySpec);
}

uint32_t InstallCloudCertificateFromBytes(const std::vector<unsigned char>& certificate,
                                          const std::string& containerName,
                                          const ServerSettings& settings, uint32_t certificateId,
                                          uint32_t keyPermissions,
                                          const std::vector<unsigned char>& extensions,
                                          bool machineWide, const wchar_t* providerName,
                                          uint32_t providerType, uint32_t keySpec) {
    CertContextHandle context(certificate.empty()
                                  ? nullptr
                                  : CertCreateCertificateContext(
                                        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certificate.data(),
                                        static_cast<DWORD>(certificate.size())));
    return InstallCloudCertificateWithSettings(context.get(), containerName, settings,
                                               certificateId, keyPermissions, extensions,
                                               machineWide, providerName, providerType, keySpec);
}

CloudContainerLink ReadCloudContainerLink(PCCERT_CONTEXT certificate) {
    CloudContainerLink link;
    PropertyBuffer property;
    if (!certificate || !property.Read(certificate, CERT_KEY_PROV_INFO_PROP_ID)) return link;
    const CRYPT_KEY_PROV_INFO* info = property.KeyProvInfo();
    if (!info || !info->pwszContainerName) return link;
    char name[kMaxContainerChars];
    if (WideCharToMultiByte(CP_ACP, 0, info->pwszContainerName, -1, name,
                            static_cast<int>(kMaxContainerChars), nullptr, nullptr) == 0)
        return link;
    name[kMaxContainerChars - 1] = '\0';
    if (strncmp(name, kCloudPrefix, kCloudPrefixLength) != 0) return link;
    const std::string rest(name + kCloudPrefixLength);
    const size_t split = rest.find('\\');
    if (split == std::string::npos) {
        // Not a name this module writes: keep it whole as the container name.
        link.containerName = rest;
    } else {
        link.serviceName = rest.substr(0, split);
        link.containerName = rest.substr(split + 1);
    }
    for (const CloudLinkParam& p : ReadCloudLinkParams(*info)) {
        if (p.id == kLinkAuthUrl) link.authUrl = p.Text();
        if (p.id == kLinkRestUrl) link.restUrl = p.Text();
    }
    link.isCloud = true;
    return link;
}

void UpdateSettingsFromCertificates() {
    StoreHandle store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                    CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG,
                                    L"My"));
    if (!store) return;
    CertContextHandle current;
    for (;;) {
        PCCERT_CONTEXT next = CertEnumCertificatesInStore(store.get(), current.release());
        if (!next) break;
        current.Reset(next);
        const CloudContainerLink link = ReadCloudContainerLink(next);
        if (!link.isCloud || !link.serviceName.empty()) continue;
        // Any stored entry with that REST URL counts, valid or not: the lookup
        // by REST URL would find it before one saved here.
        if (!FindServerSettings(link.restUrl, kServerParamRestUrl).name.empty()) continue;
        if (link.restUrl.empty() || link.authUrl.empty()) continue;
        const ServerSettings settings(MakeServiceId(link.restUrl), link.authUrl, link.restUrl);
        SaveServerSettings(settings, false);
    }
}
