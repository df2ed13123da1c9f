// GetArchiveInfo from a cold cache against plain listers that fetch each
// entry's first bytes on their own; reads and seeks are counted per listing.
#include <benchmark/benchmark.h>

#include "archive_bench_files.h"
#include "archive_exports.h"
#include "platform_testing.h"

namespace {

using platform_testing::Call;
using platform_testing::CallsMade;

std::vector<uint8_t> Contents(HGLOBAL handle) {
    std::vector<uint8_t> bytes(GlobalSize(handle));
    std::memcpy(bytes.data(), GlobalLock(handle), bytes.size());
    GlobalUnlock(handle);
    GlobalFree(handle);
    return bytes;
}

HGLOBAL ModuleListing(const std::string& path) {
    HGLOBAL handle = nullptr;
    return GetArchiveInfo(path.c_str(), 0, 0, &handle) == Ok ? handle : nullptr;
}

// The module's listing, each time with nothing cached.
void Buffered(benchmark::State& state, const std::string& path) {
    GlobalFree(ModuleListing(path));  // the file in the page cache, as for the baselines
    platform_testing::ResetFaults();
    for (auto _ : state) {
        state.PauseTiming();
        ModuleDetach();
        ModuleAttach();
        state.ResumeTiming();
        HGLOBAL listing = ModuleListing(path);
        if (listing == nullptr) {
            state.SkipWithError("GetArchiveInfo failed");
            return;
        }
        GlobalFree(listing);
    }
    state.counters["reads"] = static_cast<double>(CallsMade(Call::Read)) / state.iterations();
    state.counters["seeks"] = static_cast<double>(CallsMade(Call::Seek)) / state.iterations();
}

void Plain(benchmark::State& state, const std::string& path, bool positional) {
    // Both methods must list the same records.
    ModuleDetach();
    ModuleAttach();
    HGLOBAL plain = bench_files::PlainListing(path.c_str(), positional);
    HGLOBAL module = ModuleListing(path);
    if (plain == nullptr || module == nullptr || Contents(plain) != Contents(module)) {
        state.SkipWithError("listings differ");
        return;
    }
    platform_testing::ResetFaults();
    for (auto _ : state) GlobalFree(bench_files::PlainListing(path.c_str(), positional));
    state.counters["reads"] = static_cast<double>(CallsMade(Call::Read)) / state.iterations();
    state.counters["seeks"] = static_cast<double>(CallsMade(Call::Seek)) / state.iterations();
}

void SmallBuffered(benchmark::State& state) { Buffered(state, bench_files::SmallArchive()); }
void SmallPerEntry(benchmark::State& state) { Plain(state, bench_files::SmallArchive(), false); }
void LargeBuffered(benchmark::State& state) { Buffered(state, bench_files::LargeArchive()); }
void LargePositional(benchmark::State& state) { Plain(state, bench_files::LargeArchive(), true); }

}  // namespace

BENCHMARK(SmallBuffered)->Name("Listing/Small/Buffered")->Unit(benchmark::kMillisecond);
BENCHMARK(SmallPerEntry)->Name("Listing/Small/SeekAndReadPerEntry")->Unit(benchmark::kMillisecond);
BENCHMARK(LargeBuffered)->Name("Listing/Large/Buffered")->Unit(benchmark::kMillisecond);
BENCHMARK(LargePositional)->Name("Listing/Large/PositionalReadPerEntry")->Unit(benchmark::kMillisecond);
