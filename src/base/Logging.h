#pragma once
#include <support/support.h>

// The module's logging handle: opened when the library is loaded, released
// when it is unloaded; null means logging is off.
TSupportPrint* LogHandle();

// The two logging wrappers (level 1: failures, level 2: user cancellation).
// They are the only callers of support_print.
void LogFailure(TSupportPrint* handle, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void LogCancel(TSupportPrint* handle, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
