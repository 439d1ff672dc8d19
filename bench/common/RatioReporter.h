// The benchmark programs print a table and, after it, ratios of figures taken
// in the same run. Each program has its own reporter deriving from this one;
// RunBenchmarks is the whole of their main().
#pragma once

#include <benchmark/benchmark.h>

namespace nimbex_bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Called once after every chosen benchmark has run.
    virtual void PrintRatios() = 0;
};

// Runs the benchmarks chosen on the command line (libcurl initialised first),
// reports them through `reporter`, then prints its ratios. Returns the exit
// status for main().
int RunBenchmarks(int argc, char** argv, RatioReporter& reporter);

}  // namespace nimbex_bench
