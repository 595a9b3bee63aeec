#include "bench/bench_report.h"

#include <stdlib.h>

#include <cstdio>
#include <stdexcept>

namespace kestrix::bench {

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) continue;
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type == Run::RT_Iteration || median) {
            seconds[run.run_name.function_name] =
                run.real_accumulated_time / static_cast<double>(run.iterations);
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

void printRatios(const CollectingReporter& reporter, const std::vector<Pair>& pairs,
                 const char* operation) {
    std::printf("\n%-46s %12s %12s %12s %8s\n", "measure", (std::string(operation) + "s/s").c_str(),
                (std::string("us/") + operation).c_str(), "floor us", "ratio");
    for (const Pair& pair : pairs) {
        const auto measured = reporter.seconds.find(pair.benchmark);
        const auto floor = reporter.seconds.find(pair.floorBenchmark);
        if (measured == reporter.seconds.end() || floor == reporter.seconds.end()) continue;
        const double each = measured->second / pair.operationsPerIteration;
        std::printf("%-46s %12.0f %12.2f %12.2f %7.2fx\n", pair.label.c_str(), 1.0 / each,
                    each * 1e6, floor->second / pair.operationsPerIteration * 1e6,
                    measured->second / floor->second);
    }
}

int runBenchmarks(
    const char* program,
    const std::function<std::shared_ptr<void>(const std::filesystem::path&)>& registerAll,
    const std::vector<Pair>& pairs, const char* operation) {
    try {
        char pattern[] = "/tmp/kestrix-bench.XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        const std::filesystem::path work = pattern;
        std::shared_ptr<void> registered = registerAll(work);
        CollectingReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        printRatios(reporter, pairs, operation);
        registered.reset();
        std::error_code ec;
        std::filesystem::remove_all(work, ec);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace kestrix::bench
