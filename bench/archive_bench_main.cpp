// Runs the ZorvPack benchmarks and states, for each pair, the module's speed
// against its plain baseline measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

namespace {

// Seconds per iteration of every benchmark that ran.
std::map<std::string, double>& Seconds() {
    static std::map<std::string, double> seconds;
    return seconds;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // With --benchmark_repetitions the median stands for the benchmark.
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations <= 0) continue;
            if (run.run_type == Run::RT_Iteration && medianTaken_.count(run.run_name.str()) == 0)
                Seconds()[run.run_name.str()] = run.real_accumulated_time / run.iterations;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                Seconds()[run.run_name.str()] = run.real_accumulated_time / run.iterations;
                medianTaken_.insert(run.run_name.str());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::set<std::string> medianTaken_;
};

// A benchmark by name, also when its name carries a suffix such as
// "/iterations:1".
double SecondsOf(const std::string& name) {
    for (const auto& [run, seconds] : Seconds())
        if (run == name || run.rfind(name + "/", 0) == 0) return seconds;
    return 0;
}

// Prints slow / fast: how many times faster `fast` ran than `slow`.
void Ratio(const char* what, const std::string& fast, const std::string& slow, const char* target) {
    double f = SecondsOf(fast), s = SecondsOf(slow);
    if (f <= 0 || s <= 0) return;
    std::printf("%-62s %9.2fx  (target %s)\n", what, s / f, target);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nSpeed of the module against its plain baseline, same run:\n");
    Ratio("65,535 position lookups: index vs scan of 428-byte records", "PositionLookup/Indexed",
          "PositionLookup/LinearScan", ">= 500x");
    Ratio("65,535 position lookups: index vs scan of compact entries", "PositionLookup/Indexed",
          "PositionLookup/LinearScanCompact", "none; for scale");
    Ratio("listing 65,535 entries: buffered vs seek+read per entry", "Listing/Small/Buffered",
          "Listing/Small/SeekAndReadPerEntry", ">= 15x");
    Ratio("listing 2,000 x 1 MiB: buffered vs positional read per entry", "Listing/Large/Buffered",
          "Listing/Large/PositionalReadPerEntry", ">= 0.67x, i.e. within 1.5x");
    Ratio("ConvertPwAudio on 16 M codes vs memcpy of the output size", "Audio/ConvertPwAudio",
          "Audio/MemcpyOfOutputSize", ">= 0.7x");
    benchmark::Shutdown();
    return 0;
}
