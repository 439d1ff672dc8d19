// FormatMessageA over the table of system texts this platform knows.
#include <string.h>

#include "capi/wintypes.h"

namespace {

constexpr DWORD kAllocateBuffer = 0x00000100;  // FORMAT_MESSAGE_ALLOCATE_BUFFER
constexpr DWORD kFromString = 0x00000400;      // FORMAT_MESSAGE_FROM_STRING
constexpr DWORD kFromHModule = 0x00000800;     // FORMAT_MESSAGE_FROM_HMODULE
constexpr DWORD kFromArgumentArray = 0x00002000;
constexpr DWORD kResourceNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

struct SystemText {
    DWORD code;
    const char* text;
};

// Sorted by code.
const SystemText kTexts[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {5, "Access is denied."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {122, "The data area passed to a system call is too small."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {288, "Attempt to release mutex not owned by caller."},
    {1004, "Invalid flags."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1131, "A potential deadlock condition has been detected."},
    {1392, "The file or directory is corrupted and unreadable."},
    {1629, "The data supplied is of the wrong type."},
    {0x252D1230u, "The operation needs an authentication that was not given."},
    {0x252D1303u, "No container is open."},
    {0x252D1304u, "No container file is open."},
    {0x80090005u, "Bad Data."},
    {0x80090008u, "Invalid algorithm specified."},
    {0x8009000Bu, "Key not valid for use in specified state."},
    {0x8009000Du, "Key does not exist."},
    {0x8009000Eu, "Insufficient memory available for the operation."},
    {0x8009000Fu, "Object already exists."},
    {0x80090016u, "Keyset does not exist."},
    {0x8009001Du, "Provider DLL failed to initialize correctly."},
    {0x8009001Fu, "The Keyset parameter is invalid."},
    {0x80090020u, "An internal error occurred."},
    {0x80090022u,
     "Provider could not perform the action since the context was acquired as silent."},
    {0x80090029u, "The requested operation is not supported."},
    {0x8010000Fu, "The requested protocols are incompatible with the protocol currently in use."},
    {0x80100028u, "The card does not support the requested key."},
    {0x8010002Au, "The supplied PIN is incorrect."},
    {0x80100065u, "The reader cannot communicate with the card."},
    {0x8010006Au, "Access was denied because of a security violation."},
    {0x8010006Bu, "The card cannot be accessed because the wrong PIN was presented."},
    {0x8010006Cu,
     "The card cannot be accessed because the maximum number of PIN entry attempts has been "
     "reached."},
    {0x8010006Eu, "The action was cancelled by the user."},
};

const char* FindText(DWORD code) {
    size_t low = 0;
    size_t high = sizeof(kTexts) / sizeof(kTexts[0]);
    while (low < high) {
        size_t mid = (low + high) / 2;
        if (kTexts[mid].code == code) return kTexts[mid].text;
        if (kTexts[mid].code < code)
            low = mid + 1;
        else
            high = mid;
    }
    return nullptr;
}

}  // namespace

extern "C" DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                LPSTR buffer, DWORD size, va_list* arguments) {
    (void)source;
    (void)arguments;
    (void)languageId;  // one language: English
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (flags & (kAllocateBuffer | kFromString | kFromHModule | kFromArgumentArray)) || !buffer ||
        size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = FindText(messageId);
    if (!text) {
        buffer[0] = '\0';
        SetLastError(kResourceNotFound);
        return 0;
    }
    size_t length = strlen(text);
    if (length + 1 > size) {
        buffer[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}
