// Time values: microseconds since the Unix epoch, with overflow checks.
#include <time.h>

#include "support/support.h"

namespace {
constexpr int64_t kMicrosPerSecond = 1000000;
}

extern "C" {

TSupErr support_gettimeofday(TSupTime* now) {
    if (!now) return SUP_INVALID_PARAMETER;
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return SUP_INVALID_PARAMETER;
    int64_t usec;
    if (__builtin_mul_overflow(static_cast<int64_t>(ts.tv_sec), kMicrosPerSecond, &usec) ||
        __builtin_add_overflow(usec, static_cast<int64_t>(ts.tv_nsec / 1000), &usec))
        return SUP_INVALID_PARAMETER;
    now->usec = usec;
    return SUP_OK;
}

TSupErr support_time_set(TSupTime* result, int64_t seconds) {
    if (!result) return SUP_INVALID_PARAMETER;
    int64_t usec;
    if (__builtin_mul_overflow(seconds, kMicrosPerSecond, &usec)) return SUP_INVALID_PARAMETER;
    result->usec = usec;
    return SUP_OK;
}

TSupErr support_time_add(TSupTime* result, const TSupTime* a, const TSupTime* b) {
    if (!result || !a || !b) return SUP_INVALID_PARAMETER;
    int64_t usec;
    if (__builtin_add_overflow(a->usec, b->usec, &usec)) return SUP_INVALID_PARAMETER;
    result->usec = usec;
    return SUP_OK;
}

TSupErr support_time_sub(TSupTime* result, const TSupTime* a, const TSupTime* b) {
    if (!result || !a || !b) return SUP_INVALID_PARAMETER;
    int64_t usec;
    if (__builtin_sub_overflow(a->usec, b->usec, &usec)) return SUP_INVALID_PARAMETER;
    result->usec = usec;
    return SUP_OK;
}

}  // extern "C"
