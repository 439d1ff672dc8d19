#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Registry branches of the stored services (no trailing backslash).
extern const char kMachineSettingsBranch[];  // "\config\KeyDevices\Cloud\Default"
extern const char kUserSettingsBranch[];     // "\local\KeyDevices\Cloud\Default"

// One stored service entry.
struct ServerSettings {
    std::string name;                // the entry's section name
    std::string authUrl;             // "auth_URL"
    std::string restUrl;             // "rest_URL"
    std::string docstoreUrl;         // "docstore_URL", optional
    std::string description;         // "description", optional
    bool isTestService = false;      // "is_test_service"
    bool keyCreationAllowed = true;  // not stored

    ServerSettings() = default;
    // Both constructors validate and throw KelException("Wrong server info", 0x80090020).
    ServerSettings(const std::string& name, const std::string& authUrl, const std::string& restUrl);
    // A null pointer leaves its field empty.
    ServerSettings(const char* name, const char* authUrl, const char* restUrl,
                   const char* docstoreUrl, const char* description, bool isTestService);
};

// A looked-up copy: isValid is true when a stored entry matched and validates.
struct FoundServerSettings : ServerSettings {
    bool isValid = false;
};

enum ServerParamType : int {
    kServerParamName = 0,
    kServerParamRestUrl = 1,
};

// Name not empty, auth and REST URLs split, document store URL empty or splits.
bool IsValidServerSettings(const ServerSettings& settings);

// Writes "auth_URL", "rest_URL", "docstore_URL" and "description" (these two
// only when not empty) and "is_test_service" under the chosen branch.
void SaveServerSettings(const ServerSettings& settings, bool machineWide);

// The entries of one branch in registry order; entries without "auth_URL" or
// "rest_URL" are left out.
std::vector<ServerSettings> EnumServerSettings(bool machineWide);

// Machine-wide entries, then the per-user entries whose names (compared
// case-insensitively) are not machine-wide ones.
std::vector<ServerSettings> EnumAllServerSettings();

// First entry of the merged list whose name (type 0) or REST URL (type 1)
// equals `value` case-insensitively. Null value: KelException("Bad argumets");
// another type: KelException("Invalid server parameter type") when a
// comparison is reached (both 0x80090020).
FoundServerSettings FindServerSettings(const char* value, int type);
FoundServerSettings FindServerSettings(const std::string& value, int type);

// The name of the stored entry with this REST URL, or the empty string.
std::string GetServerNameByRestUrl(const std::string& restUrl);

// Deletes the per-user entry of that name, or, only when there is none, the
// machine-wide one. True when a section was removed.
bool DeleteServerSettings(const std::string& name);

// The per-service "default_container", always kept in the per-user branch.
void SetDefaultContainer(const std::string& name, const std::string& container);
std::string GetDefaultContainer(const std::string& name);
