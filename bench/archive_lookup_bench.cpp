// Extract-all: a host lists 65,535 small entries and asks for each position
// in listing order. Lookups through the position index (built each time)
// against a scan from the start of the 428-byte records, and of the compact
// entries the cache keeps instead.
#include <benchmark/benchmark.h>

#include <vector>

#include "archive_bench_files.h"
#include "archive_exports.h"
#include "directory_cache.h"

namespace {

const std::vector<ArchiveEntryRecord>& Records() {
    static std::vector<ArchiveEntryRecord> records = [] {
        HGLOBAL handle = nullptr;
        if (GetArchiveInfo(bench_files::SmallArchive().c_str(), 0, 0, &handle) != Ok) std::abort();
        std::vector<ArchiveEntryRecord> list(archive_builder::kSmallEntryCount);
        std::memcpy(list.data(), GlobalLock(handle), list.size() * sizeof(ArchiveEntryRecord));
        GlobalUnlock(handle);
        GlobalFree(handle);
        return list;
    }();
    return records;
}

uint32_t LinearFind(const std::vector<ArchiveEntryRecord>& records, uint32_t position) {
    for (uint32_t i = 0; i < records.size(); ++i)
        if (records[i].position == position) return i;
    return UINT32_MAX;
}

// Finds every listed position; returns the sum of the record indices found
// so that both methods can be checked against each other.
uint64_t IndexedLookups(const std::vector<ArchiveEntryRecord>& records) {
    const uint32_t count = static_cast<uint32_t>(records.size());
    std::vector<PositionIndexEntry> index(count);
    for (uint32_t i = 0; i < count; ++i)
        index[i] = PositionIndexEntry{records[i].position, static_cast<uint16_t>(i), 0, 0};
    SortPositionIndex(index.data(), count);
    uint64_t sum = 0;
    for (const ArchiveEntryRecord& record : records)
        sum += FindByPosition(index.data(), count, record.position)->recordIndex;
    return sum;
}

uint64_t LinearLookups(const std::vector<ArchiveEntryRecord>& records) {
    uint64_t sum = 0;
    for (const ArchiveEntryRecord& record : records) sum += LinearFind(records, record.position);
    return sum;
}

void Indexed(benchmark::State& state) {
    const auto& records = Records();
    uint64_t sum = 0;
    for (auto _ : state) benchmark::DoNotOptimize(sum = IndexedLookups(records));
    if (sum != LinearLookups(records)) state.SkipWithError("index and scan disagree");
    state.counters["lookups"] = static_cast<double>(records.size());
}

void LinearScan(benchmark::State& state) {
    const auto& records = Records();
    for (auto _ : state) benchmark::DoNotOptimize(LinearLookups(records));
}

void LinearScanCompact(benchmark::State& state) {
    const auto& records = Records();
    std::vector<CachedEntry> entries(records.size());
    for (size_t i = 0; i < records.size(); ++i) entries[i].position = records[i].position;
    for (auto _ : state) {
        uint64_t sum = 0;
        for (const CachedEntry& wanted : entries) {
            uint32_t i = 0;
            while (i < entries.size() && entries[i].position != wanted.position) ++i;
            sum += i;
        }
        benchmark::DoNotOptimize(sum);
    }
}

// The whole extract-all through the export: open, seek, read per entry.
void ExtractAll(benchmark::State& state) {
    const auto& records = Records();
    const char* path = bench_files::SmallArchive().c_str();
    for (auto _ : state) {
        for (const ArchiveEntryRecord& record : records) {
            HGLOBAL entry = nullptr;
            if (GetFile(path, record.position, &entry, DestInMemory, nullptr, 0) != Ok) {
                state.SkipWithError("GetFile failed");
                return;
            }
            GlobalFree(entry);
        }
    }
    state.counters["entries/s"] =
        benchmark::Counter(static_cast<double>(records.size()), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(Indexed)->Name("PositionLookup/Indexed")->Unit(benchmark::kMillisecond);
BENCHMARK(LinearScan)->Name("PositionLookup/LinearScan")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(LinearScanCompact)->Name("PositionLookup/LinearScanCompact")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(ExtractAll)->Name("ExtractAll/GetFile")->Unit(benchmark::kMillisecond)->Iterations(2);
