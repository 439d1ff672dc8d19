#include "config/ServerSettings.h"

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "config/RegistryAccess.h"
#include "config/UrlParts.h"

const char kMachineSettingsBranch[] = "\\config\\KeyDevices\\Cloud\\Default";
const char kUserSettingsBranch[] = "\\local\\KeyDevices\\Cloud\\Default";

namespace {

const char* Branch(bool machineWide) {
    return machineWide ? kMachineSettingsBranch : kUserSettingsBranch;
}

std::string ValuePath(const char* branch, const std::string& name, const char* value) {
    std::string path = branch;
    path += '\\';
    path += name;
    path += '\\';
    path += value;
    return path;
}

std::string CutAtNul(std::string text) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

// Equal length and equal bytes after the C library's tolower.
bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

void Validate(const ServerSettings& settings) {
    if (!IsValidServerSettings(settings)) throw KelException("Wrong server info", codes::kFail);
}

}  // namespace

ServerSettings::ServerSettings(const std::string& name_, const std::string& authUrl_,
                               const std::string& restUrl_)
    : name(name_), authUrl(authUrl_), restUrl(restUrl_) {
    Validate(*this);
}

ServerSettings::ServerSettings(const char* name_, const char* authUrl_, const char* restUrl_,
                               const char* docstoreUrl_, const char* description_,
                               bool isTestService_)
    : name(name_ ? name_ : ""),
      authUrl(authUrl_ ? authUrl_ : ""),
      restUrl(restUrl_ ? restUrl_ : ""),
      docstoreUrl(docstoreUrl_ ? docstoreUrl_ : ""),
      description(description_ ? description_ : ""),
      isTestService(isTestService_) {
    Validate(*this);
}

bool IsValidServerSettings(const ServerSettings& settings) {
    return !settings.name.empty() && SplitUrl(settings.authUrl).parsed &&
           SplitUrl(settings.restUrl).parsed &&
           (settings.docstoreUrl.empty() || SplitUrl(settings.docstoreUrl).parsed);
}

void SaveServerSettings(const ServerSettings& settings, bool machineWide) {
    const char* branch = Branch(machineWide);
    RegPutString(ValuePath(branch, settings.name, "auth_URL"), settings.authUrl);
    RegPutString(ValuePath(branch, settings.name, "rest_URL"), settings.restUrl);
    if (!settings.docstoreUrl.empty())
        RegPutString(ValuePath(branch, settings.name, "docstore_URL"), settings.docstoreUrl);
    const std::string description = CutAtNul(settings.description);
    if (!settings.description.empty())
        RegPutString(ValuePath(branch, settings.name, "description"), description);
    RegPutLong(ValuePath(branch, settings.name, "is_test_service"), settings.isTestService ? 1 : 0);
}

std::vector<ServerSettings> EnumServerSettings(bool machineWide) {
    std::vector<ServerSettings> list;
    const char* branch = Branch(machineWide);
    RegistrySearch search(branch);
    if (!search.IsOpen()) return list;
    for (std::string name = search.Next(); !name.empty(); name = search.Next()) {
        ServerSettings entry;
        entry.name = name;
        entry.authUrl = RegGetString(ValuePath(branch, name, "auth_URL"));
        if (entry.authUrl.empty()) continue;
        entry.restUrl = RegGetString(ValuePath(branch, name, "rest_URL"));
        if (entry.restUrl.empty()) continue;
        entry.docstoreUrl = RegGetString(ValuePath(branch, name, "docstore_URL"));
        entry.description = CutAtNul(RegGetString(ValuePath(branch, name, "description")));
        int32_t isTest = 0;
        entry.isTestService =
            RegGetLong(ValuePath(branch, name, "is_test_service"), isTest) && isTest != 0;
        list.push_back(std::move(entry));
    }
    return list;
}

std::vector<ServerSettings> EnumAllServerSettings() {
    std::vector<ServerSettings> all = EnumServerSettings(true);
    const size_t machineCount = all.size();
    for (ServerSettings& user : EnumServerSettings(false)) {
        bool hidden = false;
        for (size_t i = 0; i < machineCount && !hidden; ++i)
            hidden = EqualsIgnoreCase(all[i].name, user.name);
        if (!hidden) all.push_back(std::move(user));
    }
    return all;
}

FoundServerSettings FindServerSettings(const char* value, int type) {
    if (!value) throw KelException("Bad argumets", codes::kFail);
    const std::string wanted = value;
    FoundServerSettings found;
    for (const ServerSettings& entry : EnumAllServerSettings()) {
        const std::string* field = nullptr;
        if (type == kServerParamName)
            field = &entry.name;
        else if (type == kServerParamRestUrl)
            field = &entry.restUrl;
        else
            throw KelException("Invalid server parameter type", codes::kFail);
        if (EqualsIgnoreCase(*field, wanted)) {
            static_cast<ServerSettings&>(found) = entry;
            found.isValid = IsValidServerSettings(entry);
            return found;
        }
    }
    return found;
}

FoundServerSettings FindServerSettings(const std::string& value, int type) {
    return FindServerSettings(value.c_str(), type);
}

std::string GetServerNameByRestUrl(const std::string& restUrl) {
    const FoundServerSettings found = FindServerSettings(restUrl, kServerParamRestUrl);
    return found.isValid ? found.name : std::string();
}

bool DeleteServerSettings(const std::string& name) {
    if (RegDeleteSection(kUserSettingsBranch, name)) return true;
    return RegDeleteSection(kMachineSettingsBranch, name);
}

void SetDefaultContainer(const std::string& name, const std::string& container) {
    RegPutString(ValuePath(kUserSettingsBranch, name, "default_container"), container);
}

std::string GetDefaultContainer(const std::string& name) {
    return RegGetString(ValuePath(kUserSettingsBranch, name, "default_container"));
}
