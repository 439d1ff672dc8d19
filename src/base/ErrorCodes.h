#pragma once
#include <cstdint>

// Result codes of the reader handlers and the management exports.
namespace codes {
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kNotFound = 2;                    // no such item
constexpr uint32_t kNotSupportedSelector = 50;       // request not supported for this selector
constexpr uint32_t kBadPassword = 86;                // service: the password is wrong
constexpr uint32_t kInvalidParameter = 87;           // null pointer, bad length or record version
constexpr uint32_t kMoreData = 234;                  // buffer too small; needed size written back
constexpr uint32_t kNoMoreItems = 259;               // enumeration exhausted
constexpr uint32_t kNotAuthenticated = 1244;         // service: the user has to sign in
constexpr uint32_t kBadUserName = 2202;              // service: unknown user or refused grant
constexpr uint32_t kRequestTooLarge = 4336;          // service: the request is longer than allowed
constexpr uint32_t kSecureChannelError = 12157;      // transport: TLS failure (untrusted, mismatch)
constexpr uint32_t kBadData = 0x80090005;            // NTE_BAD_DATA
constexpr uint32_t kBadAlgId = 0x80090008;           // NTE_BAD_ALGID
constexpr uint32_t kBadKeyset = 0x80090016;          // NTE_BAD_KEYSET
constexpr uint32_t kKeysetDeleted = 0x8009000B;      // container deleted while in use
constexpr uint32_t kNoKey = 0x8009000D;              // NTE_NO_KEY
constexpr uint32_t kNoMemory = 0x8009000E;           // NTE_NO_MEMORY
constexpr uint32_t kExists = 0x8009000F;             // NTE_EXISTS
constexpr uint32_t kProviderDllFail = 0x8009001D;    // NTE_PROVIDER_DLL_FAIL
constexpr uint32_t kBadKeysetParam = 0x8009001F;     // NTE_BAD_KEYSET_PARAM
constexpr uint32_t kFail = 0x80090020;               // NTE_FAIL: general failure
constexpr uint32_t kSilentContext = 0x80090022;      // NTE_SILENT_CONTEXT
constexpr uint32_t kNotSupported = 0x80090029;       // NTE_NOT_SUPPORTED
constexpr uint32_t kHttpRestricted = 0x8010000F;     // plain HTTP refused
constexpr uint32_t kUnsupportedKey = 0x80100028;     // key the container cannot hold
constexpr uint32_t kPinTooLong = 0x8010002A;         // PIN longer than 64 bytes
constexpr uint32_t kUnsupportedCard = 0x80100065;    // SCARD_W_UNSUPPORTED_CARD
constexpr uint32_t kSecurityViolation = 0x8010006A;  // SCARD_W_SECURITY_VIOLATION
constexpr uint32_t kWrongPin = 0x8010006B;           // SCARD_W_WRONG_CHV
constexpr uint32_t kPinBlocked = 0x8010006C;         // SCARD_W_CHV_BLOCKED
constexpr uint32_t kCancelled = 0x8010006E;          // SCARD_W_CANCELLED_BY_USER
constexpr uint32_t kPinRequired = 0x252D1230;        // authentication required, not given
constexpr uint32_t kNoContainer = 0x252D1303;        // no container open
constexpr uint32_t kNoFile = 0x252D1304;             // no container file open
}  // namespace codes
