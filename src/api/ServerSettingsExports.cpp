// The service-settings exports: save, delete, enumerate (stored or
// discovered) and the two updates.
#include <nimbex/management.h>

#include <new>
#include <string>
#include <vector>

#include "api/ManagementService.h"
#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "base/SecretString.h"
#include "config/SavedCredentials.h"
#include "config/ServerSettings.h"
#include "container/CloudCertificateLink.h"
#include "protocol/ServiceDiscovery.h"

// Entries of an enumeration; the strings handed out point into it.
struct CloudServerSettingsEnum {
    struct Entry {
        std::string name, authUrl, signUrl, docstoreUrl, description;
        bool isTestService = false;
        SecretString userName;
    };
    std::vector<Entry> entries;
    size_t cursor = 0;
};

namespace {

// The longest name or URL an enumeration hands out, in bytes, without the
// NUL: a text of exactly this length still goes out. The records hand out
// pointers, so this is a limit of the interface, not of a field size.
constexpr size_t kMaxEnumeratedText = 256;

bool FitsEnumeration(const ServerSettings& s) {
    for (const std::string* text : {&s.name, &s.authUrl, &s.restUrl, &s.docstoreUrl})
        if (text->size() > kMaxEnumeratedText) return false;
    return true;
}

uint32_t OpenEnumeration(const std::vector<ServerSettings>& list,
                         CloudServerSettingsEnum** handle) {
    if (list.empty()) return codes::kNotFound;
    for (const ServerSettings& s : list)
        if (!FitsEnumeration(s)) return codes::kInvalidParameter;
    auto* opened = new CloudServerSettingsEnum;
    try {
        opened->entries.reserve(list.size());
        for (const ServerSettings& s : list) {
            CloudServerSettingsEnum::Entry entry;
            entry.name = s.name;
            entry.authUrl = s.authUrl;
            entry.signUrl = s.restUrl;
            entry.docstoreUrl = s.docstoreUrl;
            entry.description = s.description;
            entry.isTestService = s.isTestService;
            std::string userName = LoadUserName(s.name);
            entry.userName = userName;
            WipeString(userName);
            opened->entries.push_back(std::move(entry));
        }
    } catch (...) {
        delete opened;
        throw;
    }
    *handle = opened;
    return codes::kSuccess;
}

}  // namespace

uint32_t SaveExtendedCloudServerSettings(const CloudServerSettings* settings, uint32_t level,
                                         uintptr_t machineWide) {
    if (!settings || !settings->name || !UrlsPaired(*settings)) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        uint32_t result = codes::kInvalidParameter;
        if (settings->authUrl) {
            SaveServerSettings(SettingsFromRecord(*settings, level), machineWide != 0);
            result = codes::kSuccess;
        }
        if (!HasCredentials(*settings)) return result;
        const FoundServerSettings found = FindServerSettings(settings->name, kServerParamName);
        if (!found.isValid) return codes::kNotFound;
        SaveRecordCredentials(settings->name, *settings);
        return codes::kSuccess;
    });
}

uint32_t SaveCloudServerSettings(const CloudServerSettings* settings, uintptr_t machineWide) {
    return SaveExtendedCloudServerSettings(settings, 0, machineWide);
}

uint32_t DeleteCloudServerSettings(const char* name) {
    if (!name) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const bool removed = DeleteServerSettings(name);
        DeleteCredentials(name);
        return removed ? codes::kSuccess : codes::kNotFound;
    });
}

uint32_t CloudServerSettingsEnumOpen(CloudServerSettingsEnum** handle) {
    if (!handle) return codes::kInvalidParameter;
    return Boundary([&]() { return OpenEnumeration(EnumAllServerSettings(), handle); });
}

uint32_t CloudServerSettingsEnumOpenFromDiscovery(const char* baseUrl,
                                                  CloudServerSettingsEnum** handle) {
    if (!baseUrl || !handle) return codes::kInvalidParameter;
    return Boundary([&]() { return OpenEnumeration(DiscoverServerSettings(baseUrl), handle); });
}

uint32_t ExtendedCloudServerSettingsEnumNext(CloudServerSettingsEnum* handle, uint32_t level,
                                             CloudServerSettings* settings) {
    if (!handle || !settings) return codes::kInvalidParameter;
    if (handle->cursor >= handle->entries.size()) return codes::kNoMoreItems;
    const CloudServerSettingsEnum::Entry& entry = handle->entries[handle->cursor++];
    settings->name = entry.name.c_str();
    settings->authUrl = entry.authUrl.c_str();
    settings->signUrl = entry.signUrl.c_str();
    settings->userName = entry.userName.c_str();
    settings->password = nullptr;
    if (level >= 1) {
        settings->description = entry.description.c_str();
        settings->isTestService = entry.isTestService ? 1 : 0;
    }
    if (level >= 2) settings->docstoreUrl = entry.docstoreUrl.c_str();
    return codes::kSuccess;
}

uint32_t CloudServerSettingsEnumNext(CloudServerSettingsEnum* handle,
                                     CloudServerSettings* settings) {
    return ExtendedCloudServerSettingsEnumNext(handle, 0, settings);
}

void CloudServerSettingsEnumClose(CloudServerSettingsEnum* handle) {
    // The user names are secret strings: their bytes are zeroed as they go.
    delete handle;
}

void UpdateCloudServerSettings() {
    CatchAll([] {
        UpdateSettingsFromCertificates();
        return codes::kSuccess;
    });
}

void UpdateCloudServerSettingsUsingDiscovery(const char* baseUrl) {
    if (!baseUrl) return;
    CatchAll([&] {
        UpdateSettingsFromDiscovery(baseUrl);
        return codes::kSuccess;
    });
}
