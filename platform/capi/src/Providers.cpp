// Providers registered in the configuration registry:
//   \config\Providers\<name>            section, one per provider
//     "Type"     long    provider type (entries without it are not listed)
//     "Param81"  long    value of provider parameter 0x81 (optional)
//     \Readers\<nickname>  string  reader name; one value per reader entry
// Providers are listed in the registry's name order.
#include <support/support.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "CertInternal.h"

using namespace capi;

namespace {

constexpr uint32_t kProvMagic = 0x50524F56;  // "PROV"
const char* const kProvidersPath = "\\config\\Providers";

struct ProviderEntry {
    std::string name;
    DWORD type = 0;
};

struct ProvImpl {
    uint32_t magic = kProvMagic;
    std::string name;
    DWORD type = 0;
    bool hasParam81 = false;
    DWORD param81 = 0;
    std::vector<std::pair<std::string, std::string>> readers;
    size_t nextReader = 0;
};

// Names of the direct entries of a registry section (subsections only when
// `sectionsOnly`).
std::vector<std::string> ListEntries(const std::string& path, bool sectionsOnly) {
    std::vector<std::string> names;
    TSupRegSearch* search = nullptr;
    size_t count = 0;
    if (support_registry_search_open(path.c_str(), &search, &count, sectionsOnly ? 1 : 0) != 0 ||
        !search)
        return names;
    TSupRegValue* value = nullptr;
    while (support_registry_search_next(search, &value) == 0 && value) {
        size_t length = 0;
        if (support_registry_value_name(value, &length, nullptr) == 0) {
            std::string name(length, '\0');
            if (support_registry_value_name(value, &length, name.data()) == 0) {
                name.resize(length);
                names.push_back(name);
            }
        }
        support_registry_value_free(value);
        value = nullptr;
    }
    support_registry_search_close(search);
    return names;
}

bool GetLong(const std::string& path, DWORD* out) {
    int32_t value = 0;
    if (support_registry_get_long(path.c_str(), &value) != 0) return false;
    *out = static_cast<DWORD>(value);
    return true;
}

bool GetString(const std::string& path, std::string* out) {
    size_t length = 0;
    if (support_registry_get_string(path.c_str(), &length, nullptr) != 0) return false;
    std::string text(length, '\0');
    if (length && support_registry_get_string(path.c_str(), &length, text.data()) != 0)
        return false;
    text.resize(strnlen(text.c_str(), length));
    *out = text;
    return true;
}

std::string ProviderPath(const std::string& name) {
    return std::string(kProvidersPath) + "\\" + name;
}

std::vector<ProviderEntry> ListProviders() {
    std::vector<ProviderEntry> providers;
    for (const std::string& name : ListEntries(kProvidersPath, true)) {
        ProviderEntry entry;
        entry.name = name;
        if (GetLong(ProviderPath(name) + "\\Type", &entry.type)) providers.push_back(entry);
    }
    return providers;
}

ProvImpl* ProvFromHandle(HCRYPTPROV handle) {
    auto* p = reinterpret_cast<ProvImpl*>(handle);
    return p && p->magic == kProvMagic ? p : nullptr;
}

BOOL PutDword(DWORD value, BYTE* data, DWORD* dataLength) {
    DWORD capacity = *dataLength;
    *dataLength = sizeof(DWORD);
    if (!data) return TRUE;
    if (capacity < sizeof(DWORD)) return Fail<BOOL>(ERROR_MORE_DATA, FALSE);
    memcpy(data, &value, sizeof value);
    return TRUE;
}

BOOL PutBytes(const std::string& bytes, BYTE* data, DWORD* dataLength) {
    DWORD capacity = *dataLength;
    *dataLength = static_cast<DWORD>(bytes.size());
    if (!data) return TRUE;
    if (capacity < bytes.size()) return Fail<BOOL>(ERROR_MORE_DATA, FALSE);
    memcpy(data, bytes.data(), bytes.size());
    return TRUE;
}

std::string ReaderEntry(const std::pair<std::string, std::string>& reader) {
    std::string entry = reader.first;
    entry.push_back('\0');
    entry += reader.second;
    entry.push_back('\0');
    return entry;
}

}  // namespace

extern "C" BOOL CryptEnumProvidersW(DWORD index, DWORD* reserved, DWORD flags, DWORD* provType,
                                    LPWSTR provName, DWORD* provNameLength) {
    if (reserved || flags || !provType || !provNameLength) return Fail<BOOL>(E_INVALIDARG, FALSE);
    std::vector<ProviderEntry> providers = ListProviders();
    if (index >= providers.size()) return Fail<BOOL>(ERROR_NO_MORE_ITEMS, FALSE);
    std::wstring name;
    if (!Utf8ToWide(providers[index].name, &name)) return Fail<BOOL>(NTE_FAIL, FALSE);
    DWORD needed = static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR));
    DWORD capacity = *provNameLength;
    *provNameLength = needed;
    *provType = providers[index].type;
    if (!provName) return TRUE;
    if (capacity < needed) return Fail<BOOL>(ERROR_MORE_DATA, FALSE);
    memcpy(provName, name.c_str(), needed);
    return TRUE;
}

extern "C" BOOL CryptAcquireContextW(HCRYPTPROV* prov, LPCWSTR container, LPCWSTR provName,
                                     DWORD provType, DWORD flags) {
    if (!prov) return Fail<BOOL>(E_INVALIDARG, FALSE);
    *prov = 0;
    if ((flags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_MACHINE_KEYSET)) != 0)
        return Fail<BOOL>(NTE_BAD_FLAGS, FALSE);
    // Only verify-context handles: the providers keep no local containers.
    if ((flags & CRYPT_VERIFYCONTEXT) != CRYPT_VERIFYCONTEXT || (container && *container))
        return Fail<BOOL>(NTE_BAD_KEYSET, FALSE);
    std::vector<ProviderEntry> providers = ListProviders();
    const ProviderEntry* chosen = nullptr;
    if (provName) {
        std::string wanted = WideToUtf8(provName);
        for (const ProviderEntry& p : providers)
            if (p.name == wanted) chosen = &p;
        if (!chosen) return Fail<BOOL>(NTE_KEYSET_NOT_DEF, FALSE);
        if (chosen->type != provType) return Fail<BOOL>(NTE_PROV_TYPE_NO_MATCH, FALSE);
    } else {
        for (const ProviderEntry& p : providers)
            if (!chosen && p.type == provType) chosen = &p;
        if (!chosen) return Fail<BOOL>(NTE_PROV_TYPE_NOT_DEF, FALSE);
    }
    auto* impl = new ProvImpl();
    impl->name = chosen->name;
    impl->type = chosen->type;
    std::string path = ProviderPath(chosen->name);
    impl->hasParam81 = GetLong(path + "\\Param81", &impl->param81);
    for (const std::string& nick : ListEntries(path + "\\Readers", false)) {
        std::string reader;
        if (GetString(path + "\\Readers\\" + nick, &reader))
            impl->readers.emplace_back(nick, reader);
    }
    *prov = reinterpret_cast<HCRYPTPROV>(impl);
    return TRUE;
}

extern "C" BOOL CryptGetProvParam(HCRYPTPROV prov, DWORD param, BYTE* data, DWORD* dataLength,
                                  DWORD flags) {
    ProvImpl* p = ProvFromHandle(prov);
    if (!p || !dataLength) return Fail<BOOL>(E_INVALIDARG, FALSE);
    switch (param) {
        case PP_PREFERRED:
            if (!p->hasParam81) return Fail<BOOL>(NTE_BAD_TYPE, FALSE);
            return PutDword(p->param81, data, dataLength);
        case PP_PROVTYPE:
            return PutDword(p->type, data, dataLength);
        case PP_NAME:
            return PutBytes(p->name + std::string(1, '\0'), data, dataLength);
        case PP_ENUMREADERS: {
            if (flags & CRYPT_FIRST) p->nextReader = 0;
            if (!data) {
                // The size query answers the largest entry.
                if (p->readers.empty()) return Fail<BOOL>(ERROR_NO_MORE_ITEMS, FALSE);
                size_t largest = 0;
                for (const auto& r : p->readers) largest = std::max(largest, ReaderEntry(r).size());
                *dataLength = static_cast<DWORD>(largest);
                return TRUE;
            }
            if (p->nextReader >= p->readers.size()) return Fail<BOOL>(ERROR_NO_MORE_ITEMS, FALSE);
            if (!PutBytes(ReaderEntry(p->readers[p->nextReader]), data, dataLength)) return FALSE;
            ++p->nextReader;
            return TRUE;
        }
        default:
            return Fail<BOOL>(NTE_BAD_TYPE, FALSE);
    }
}

extern "C" BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD /*flags*/) {
    ProvImpl* p = ProvFromHandle(prov);
    if (!p) return Fail<BOOL>(E_INVALIDARG, FALSE);
    p->magic = 0;
    delete p;
    return TRUE;
}
