#include "base/ErrorBoundary.h"

#include "base/Logging.h"

namespace {
constexpr unsigned kFailureMask = 0x1041041;
constexpr unsigned kCancelMask = 0x2082082;
}  // namespace

uint32_t process_kel_exception(const KelException& e) noexcept {
    const uint32_t code = e.code();
    try {
        TSupportPrint* log = LogHandle();
        if (code != codes::kCancelled) {
            if (log && support_print_is(log, kFailureMask)) LogFailure(log, "%s", e.what());
        } else {
            if (log && support_print_is(log, kCancelMask)) LogCancel(log, "%s", e.what());
        }
    } catch (...) {
        // Logging never changes the result.
    }
    return code;
}
