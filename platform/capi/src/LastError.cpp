// The per-thread last error of the CryptoAPI-style library.
#include "capi/wintypes.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

extern "C" DWORD GetLastError(void) {
    return t_lastError;
}

extern "C" void SetLastError(DWORD code) {
    t_lastError = code;
}
