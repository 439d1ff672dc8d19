// Per-call timings for benchmarks that time the calls themselves (manual
// time), so that medians, not means, are compared.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace nimbex_bench {

// Wall and thread CPU time of calls, in microseconds.
struct Samples {
    std::vector<double> wall, cpu;

    template <class F>
    void Time(F&& f) {
        timespec c0, c1;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
        const auto w0 = std::chrono::steady_clock::now();
        f();
        const auto w1 = std::chrono::steady_clock::now();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
        wall.push_back(std::chrono::duration<double, std::micro>(w1 - w0).count());
        cpu.push_back((c1.tv_sec - c0.tv_sec) * 1e6 + (c1.tv_nsec - c0.tv_nsec) / 1e3);
    }
};

// The median of `v` (0 for none).
inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

}  // namespace nimbex_bench
