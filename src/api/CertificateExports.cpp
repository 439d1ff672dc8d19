// The certificate exports: the service's certificates with their key details,
// installation into the store with the link, container names and the removal
// of stale linked certificates.
#include <nimbex/management.h>

#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "api/ManagementService.h"
#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "config/ContainerNaming.h"
#include "container/CertificateHandles.h"
#include "container/CloudCertificateLink.h"

// The certificates not handed out yet, first to go first.
struct KelCertificatesEnum {
    struct Entry {
        std::vector<unsigned char> certificate;
        uint32_t id = 0;
        std::string friendlyName;
        uint32_t keySpec = 0;
        uint32_t keyPermissions = 0;
        std::vector<unsigned char> extensions;
        int hasPin = 0;  // 0 not stated, 1 yes, 2 no
    };
    std::list<Entry> entries;
};

namespace {

bool ValidServiceRecord(const CloudServerSettings* settings) {
    return settings && settings->name && UrlsPaired(*settings);
}

}  // namespace

uint32_t ExtendedKelCertificatesEnumOpen(const CloudServerSettings* settings, uint32_t level,
                                         KelCertificatesEnum** handle) {
    if (!handle || !ValidServiceRecord(settings)) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const ResolvedService service = ResolveService(*settings, level);
        boost::shared_ptr<ContainerConnectorBase> connector =
            MakeManagementConnector(service.entry, settings);
        std::list<KelCertificatesEnum::Entry> entries;
        for (CertificateRecord& record : connector->GetCertificates()) {
            KelCertificatesEnum::Entry entry;
            entry.extensions = connector->GetContainerExtensions(record.id);
            entry.keyPermissions = connector->GetKeyPermissions(record.id);
            entry.keySpec = connector->GetKeySpec(record.id);
            entry.certificate = std::move(record.certificate);
            entry.id = record.id;
            entry.friendlyName = std::move(record.friendlyName);
            entry.hasPin = record.hasPin;
            entries.push_back(std::move(entry));
        }
        auto* opened = new KelCertificatesEnum;
        opened->entries.swap(entries);
        *handle = opened;
        return codes::kSuccess;
    });
}

uint32_t KelCertificatesEnumOpen(const CloudServerSettings* settings,
                                 KelCertificatesEnum** handle) {
    return ExtendedKelCertificatesEnumOpen(settings, 0, handle);
}

uint32_t KelCertificateEnumNext(KelCertificatesEnum* handle, CloudCertificateInfo* info) {
    if (!handle || !info) return codes::kInvalidParameter;
    if (handle->entries.empty()) return codes::kNoMoreItems;
    const KelCertificatesEnum::Entry& entry = handle->entries.front();
    const uint32_t certLength = static_cast<uint32_t>(entry.certificate.size());
    const uint32_t extLength = static_cast<uint32_t>(entry.extensions.size());
    bool sizeOnly = false, moreData = false;
    if (!info->certificate) {
        info->certificateLength = certLength;
        sizeOnly = true;
    } else if (info->certificateLength < certLength) {
        info->certificateLength = certLength;
        moreData = true;
    }
    if (extLength != 0) {
        if (!info->containerExtensions) {
            info->containerExtensionsLength = extLength;
            return moreData ? codes::kMoreData : codes::kSuccess;
        }
        if (info->containerExtensionsLength < extLength) {
            info->containerExtensionsLength = extLength;
            return codes::kMoreData;
        }
    }
    if (moreData) return codes::kMoreData;
    if (sizeOnly) return codes::kSuccess;
    memcpy(info->certificate, entry.certificate.data(), certLength);
    info->certificateLength = certLength;
    if (extLength) memcpy(info->containerExtensions, entry.extensions.data(), extLength);
    info->containerExtensionsLength = extLength;
    if (info->friendlyName) {
        const std::string& name = entry.friendlyName;
        if (!name.empty() && info->friendlyNameCapacity > name.size())
            memcpy(info->friendlyName, name.c_str(), name.size() + 1);
        else
            info->friendlyName[0] = '\0';
    }
    info->certificateId = entry.id;
    info->keySpec = entry.keySpec;
    info->keyPermissions = entry.keyPermissions;
    handle->entries.pop_front();
    return codes::kSuccess;
}

uint32_t KelCertificateEnumHasPin(KelCertificatesEnum* handle, uint32_t* hasPin) {
    if (!handle || !hasPin) return codes::kInvalidParameter;
    if (handle->entries.empty()) return codes::kNoMoreItems;
    *hasPin = static_cast<uint32_t>(handle->entries.front().hasPin);
    return codes::kSuccess;
}

void KelCertificatesEnumClose(KelCertificatesEnum* handle) {
    delete handle;
}

uint32_t SetCloudCertificateToStore(const CloudServerSettings* settings,
                                    const CloudCertificateInfo* info, const char* containerName,
                                    uintptr_t machineWide, const wchar_t* providerName,
                                    uint32_t providerType) {
    if (!ValidServiceRecord(settings) || !info || !info->certificate ||
        info->certificateLength == 0 || info->certificateId == 0)
        return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const ResolvedService service = ResolveService(*settings, 0);
        if (service.isNew) SaveServerSettings(service.entry, machineWide != 0);
        const std::vector<unsigned char> certificate(info->certificate,
                                                     info->certificate + info->certificateLength);
        std::vector<unsigned char> extensions;
        if (info->containerExtensions)
            extensions.assign(info->containerExtensions,
                              info->containerExtensions + info->containerExtensionsLength);
        const std::string container =
            containerName ? std::string(containerName)
                          : MakeContainerName(service.entry.restUrl, info->certificateId);
        const uint32_t result = InstallCloudCertificateFromBytes(
            certificate, container, service.entry, info->certificateId, info->keyPermissions,
            extensions, machineWide != 0, providerName, providerType, info->keySpec);
        if (result == codes::kSuccess && HasCredentials(*settings))
            SaveRecordCredentials(service.entry.name, *settings);
        return result;
    });
}

uint32_t FormContainerName(const CloudServerSettings* settings, uint32_t certificateId,
                           char* buffer, uint32_t* size) {
    if (!size || !ValidServiceRecord(settings)) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const ResolvedService service = ResolveService(*settings, 0);
        const std::string name = MakeContainerName(service.entry.restUrl, certificateId);
        const uint32_t needed = static_cast<uint32_t>(name.size() + 1);
        if (!buffer) {
            *size = needed;
            return codes::kSuccess;
        }
        if (*size < needed) {
            *size = needed;
            return codes::kMoreData;
        }
        memcpy(buffer, name.c_str(), needed);
        return codes::kSuccess;
    });
}

uint32_t UpdateCloudCertificates(const char* name) {
    if (!name) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const FoundServerSettings found = FindServerSettings(name, kServerParamName);
        if (!found.isValid) return codes::kInvalidParameter;
        boost::shared_ptr<ContainerConnectorBase> connector =
            MakeManagementConnector(found, nullptr);
        StoreHandle store(
            CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                          CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG, L"My"));
        if (!store) return codes::kSuccess;
        CertContextHandle current;
        for (;;) {
            PCCERT_CONTEXT next = CertEnumCertificatesInStore(store.get(), current.release());
            if (!next) break;
            current.Reset(next);
            const CloudContainerLink link = ReadCloudContainerLink(next);
            if (!link.isCloud) continue;
            std::string service = link.serviceName;
            if (service.empty() && !link.restUrl.empty())
                service = GetServerNameByRestUrl(link.restUrl);
            if (service.empty() || service != name) continue;
            if (!connector->HasApiVersion2()) return codes::kNotSupported;
            const std::vector<unsigned char> der(next->pbCertEncoded,
                                                 next->pbCertEncoded + next->cbCertEncoded);
            uint32_t id = 0;
            if (connector->FindCertificateByThumbprint(der, &id)) continue;
            CertDeleteCertificateFromStore(CertDuplicateCertificateContext(next));
        }
        return codes::kSuccess;
    });
}
