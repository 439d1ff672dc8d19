#pragma once
#include <cstdint>
#include <string>

// The module options, kept as registry longs under "\config\KeyDevices\Cloud\".
// They are read afresh on every call; bounds are applied on reading only.
enum ModuleOption : int {
    kOptionTimeout = 0,                 // "Timeout", ms, default 30000, capped at 65535
    kOptionMaxDocSize = 1,              // "MaxDocSize", MB, default 10, capped at 2047
    kOptionShouldSaveAuthToken = 2,     // "ShouldSaveAuthToken", default false
    kOptionPermitHttp = 3,              // "PermitHttp", default false
    kOptionRealDelete = 4,              // "RealDelete", default false
    kOptionHttpErrorLevel = 5,          // "HttpErrorLevel", default 0
    kOptionEnableKeyCreation = 6,       // "EnableKeyCreation", default true
    kOptionHttpKeepAlive = 7,           // "HttpKeepAlive", tri-state
    kOptionGetServerOptionsOnline = 8,  // "GetServerOptionsOnline", tri-state
};
constexpr int kModuleOptionCount = 9;

// The section holding the options and "AuthApp" (with its trailing backslash).
extern const char kModuleOptionsSection[];

// A flag that may also be absent: (value false, present false) when absent.
struct TriStateOption {
    bool value = false;
    bool present = false;
};

// The snapshot a reader context or a management call takes once.
struct ModuleOptions {
    uint32_t timeout = 30000;         // at most 65535
    uint32_t maxDocSize = 10u << 20;  // bytes
    bool shouldSaveAuthToken = false;
    bool permitHttp = false;
    bool realDelete = false;
    uint32_t httpErrorLevel = 0;
    bool enableKeyCreation = true;
    bool keepAliveValue = false;
    bool keepAlivePresent = false;
    bool serverOptionsOnlineValue = false;
    bool serverOptionsOnlinePresent = false;
};

// The raw stored value; false for an absent value or an index outside 0..8
// (then nothing is read). `value` is written only when the value exists.
bool GetModuleOption(int index, int32_t& value);
// Stores the value as it stands; an index outside 0..8 does nothing.
void SetModuleOption(int index, int32_t value);

uint16_t GetTimeoutOption();
uint32_t GetMaxDocSizeOption();  // megabytes
bool GetShouldSaveAuthTokenOption();
bool GetPermitHttpOption();
bool GetRealDeleteOption();
uint32_t GetHttpErrorLevelOption();
bool GetEnableKeyCreationOption();
TriStateOption GetHttpKeepAliveOption();
TriStateOption GetServerOptionsOnlineOption();

// Reads the nine options in index order.
ModuleOptions ReadModuleOptions();

// The path of the OAuth2 client program ("AuthApp"); KelException 0x80090020
// when it is absent or empty.
std::string GetAuthAppPath();
