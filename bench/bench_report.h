#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestrix::bench {

// A measurement and the floor it is compared with.
struct Pair {
    std::string label;
    std::string benchmark;
    std::string floorBenchmark;
    int operationsPerIteration;
};

// Keeps the per-iteration times of every run, printing as it goes.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override;
    std::map<std::string, double> seconds;  // per iteration
};

// The table of measurements beside their floors, with the ratio.
void printRatios(const CollectingReporter& reporter, const std::vector<Pair>& pairs,
                 const char* operation);

// The body of a benchmark program: makes a scratch directory, lets
// registerAll register the benchmarks in it (what it returns is kept until
// they have run), runs them, prints the ratios of pairs and removes the
// directory. The program's exit status.
int runBenchmarks(
    const char* program,
    const std::function<std::shared_ptr<void>(const std::filesystem::path&)>& registerAll,
    const std::vector<Pair>& pairs, const char* operation);

}  // namespace kestrix::bench
