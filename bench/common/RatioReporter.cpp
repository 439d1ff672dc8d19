#include "RatioReporter.h"

#include <curl/curl.h>

namespace nimbex_bench {

int RunBenchmarks(int argc, char** argv, RatioReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}

}  // namespace nimbex_bench
