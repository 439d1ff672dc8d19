#include "config/ModuleOptions.h"

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "config/RegistryAccess.h"

const char kModuleOptionsSection[] = "\\config\\KeyDevices\\Cloud\\";

namespace {

const char* const kOptionNames[kModuleOptionCount] = {
    "Timeout",           "MaxDocSize",    "ShouldSaveAuthToken",
    "PermitHttp",        "RealDelete",    "HttpErrorLevel",
    "EnableKeyCreation", "HttpKeepAlive", "GetServerOptionsOnline",
};

std::string OptionPath(int index) {
    std::string path = kModuleOptionsSection;
    path += kOptionNames[index];
    return path;
}

bool ReadFlag(int index, bool absent) {
    int32_t value = 0;
    return GetModuleOption(index, value) ? value != 0 : absent;
}

TriStateOption ReadTriState(int index) {
    TriStateOption option;
    int32_t value = 0;
    if (GetModuleOption(index, value)) {
        option.present = true;
        option.value = value != 0;
    }
    return option;
}

}  // namespace

bool GetModuleOption(int index, int32_t& value) {
    if (index < 0 || index >= kModuleOptionCount) return false;
    return RegGetLong(OptionPath(index), value);
}

void SetModuleOption(int index, int32_t value) {
    if (index < 0 || index >= kModuleOptionCount) return;
    RegPutLong(OptionPath(index), value);
}

uint16_t GetTimeoutOption() {
    int32_t value = 0;
    if (!GetModuleOption(kOptionTimeout, value)) return 30000;
    const uint32_t stored = static_cast<uint32_t>(value);
    return static_cast<uint16_t>(stored >= 65536 ? 65535 : stored);
}

uint32_t GetMaxDocSizeOption() {
    int32_t value = 0;
    if (!GetModuleOption(kOptionMaxDocSize, value)) return 10;
    const uint32_t stored = static_cast<uint32_t>(value);
    return stored >= 2047 ? 2047 : stored;
}

bool GetShouldSaveAuthTokenOption() {
    return ReadFlag(kOptionShouldSaveAuthToken, false);
}
bool GetPermitHttpOption() {
    return ReadFlag(kOptionPermitHttp, false);
}
bool GetRealDeleteOption() {
    return ReadFlag(kOptionRealDelete, false);
}

uint32_t GetHttpErrorLevelOption() {
    int32_t value = 0;
    return GetModuleOption(kOptionHttpErrorLevel, value) ? static_cast<uint32_t>(value) : 0;
}

bool GetEnableKeyCreationOption() {
    return ReadFlag(kOptionEnableKeyCreation, true);
}
TriStateOption GetHttpKeepAliveOption() {
    return ReadTriState(kOptionHttpKeepAlive);
}
TriStateOption GetServerOptionsOnlineOption() {
    return ReadTriState(kOptionGetServerOptionsOnline);
}

ModuleOptions ReadModuleOptions() {
    ModuleOptions options;
    options.timeout = GetTimeoutOption();
    options.maxDocSize = GetMaxDocSizeOption() << 20;
    options.shouldSaveAuthToken = GetShouldSaveAuthTokenOption();
    options.permitHttp = GetPermitHttpOption();
    options.realDelete = GetRealDeleteOption();
    options.httpErrorLevel = GetHttpErrorLevelOption();
    options.enableKeyCreation = GetEnableKeyCreationOption();
    const TriStateOption keepAlive = GetHttpKeepAliveOption();
    options.keepAliveValue = keepAlive.value;
    options.keepAlivePresent = keepAlive.present;
    const TriStateOption online = GetServerOptionsOnlineOption();
    options.serverOptionsOnlineValue = online.value;
    options.serverOptionsOnlinePresent = online.present;
    return options;
}

std::string GetAuthAppPath() {
    std::string path = RegGetString(std::string(kModuleOptionsSection) + "AuthApp");
    const size_t nul = path.find('\0');
    if (nul != std::string::npos) path.resize(nul);
    if (path.empty())
        throw KelException(
            "Cannot find the configuration parameter with path to OAuth2Client. Check the "
            "correctness of CSP installation.",
            codes::kFail);
    return path;
}
