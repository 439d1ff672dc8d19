#pragma once
#include <cstdint>

#include "base/ErrorCodes.h"
#include "base/KelException.h"

// The boundary rule for a caught KelException: log it (level 2 for a user
// cancellation, level 1 otherwise) and return its code. Never throws.
uint32_t process_kel_exception(const KelException& e) noexcept;

// Runs `body` (returning a uint32_t code) at a module boundary: a
// KelException becomes its code through process_kel_exception, anything else
// becomes `otherCode` without logging.
template <class Body>
uint32_t Boundary(Body&& body, uint32_t otherCode = codes::kFail) noexcept {
    try {
        return body();
    } catch (const KelException& e) {
        return process_kel_exception(e);
    } catch (...) {
        return otherCode;
    }
}

// The catch-all form: every exception becomes `code`, nothing is logged.
template <class Body>
uint32_t CatchAll(Body&& body, uint32_t code = codes::kFail) noexcept {
    try {
        return body();
    } catch (...) {
        return code;
    }
}
