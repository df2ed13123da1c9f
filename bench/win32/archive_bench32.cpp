// 32-bit figures for the archive module:
//   - ConvertPwAudio on 16 M codes, compiled with the module's flags, against
//     memcpy of the output size;
//   - listing an archive of 65,535 entries with the real ZORVPACK.SPI from a
//     cold directory cache, against a plain lister that makes one seek and
//     one read per entry (the records of both must be identical);
//   - extracting every entry in listing order, as a host's "extract all".
// Usage: archive_bench32 <path of ZORVPACK.SPI>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "bench_timer.h"
#include "host_harness.h"
#include "pw_audio.h"

namespace {

namespace ab = archive_builder;

volatile uint32_t sink;

void BenchAudio() {
    const uint32_t codes = 16u << 20;
    ab::PwRecipe recipe;
    recipe.channels = 2;
    recipe.codes = ab::Bytes(codes, 42);
    std::vector<uint8_t> entry = ab::MakePwAudio(recipe);
    const uint32_t outputSize = ConvertPwAudio(nullptr, entry.data());
    std::vector<uint8_t> wave(outputSize), copy(outputSize);
    std::vector<uint8_t> source(outputSize, 0x5A);
    double convert = MedianSeconds([&] { sink = ConvertPwAudio(wave.data(), entry.data()); });
    double memcpyTime = MedianSeconds([&] {
        std::memcpy(copy.data(), source.data(), outputSize);
        sink = copy[outputSize / 2];
    });
    bool same = wave == ab::ExpectedWave(entry);
    // The path a processor without the vector instructions takes.
    double portable = MedianSeconds([&] {
        ExpandPwCodesPortable(wave.data() + kPwHeaderSize, entry.data() + kPwHeaderSize, codes);
        sink = wave[outputSize / 2];
    });
    same = same && wave == ab::ExpectedWave(entry);
    std::printf("ConvertPwAudio, %u codes: %.1f ms (%.0f MB/s of output); memcpy of %u bytes: %.1f ms; "
                "speed %.2fx of memcpy (target >= 0.55x)%s\n",
                codes, convert * 1e3, outputSize / convert / 1e6, outputSize, memcpyTime * 1e3,
                memcpyTime / convert, same ? "" : "  OUTPUT WRONG");
    std::printf("  portable expansion alone: %.1f ms, %.2fx of memcpy\n", portable * 1e3,
                memcpyTime / portable);
}

uint32_t Le32(const uint8_t* p) { return GetLe32(p); }

size_t FileSizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return data.nFileSizeLow;
}

// Opens the file and reads all of it in one call, as the floor of any listing.
bool ReadWhole(const std::string& path, std::vector<uint8_t>& into) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    bool ok = ReadFile(f, into.data(), static_cast<DWORD>(into.size()), &got, nullptr) && got == into.size();
    CloseHandle(f);
    return ok;
}

// The listing block any lister hands the host: movable, zero-filled, the
// records and one zero record; unlocked.
HGLOBAL ListingBlock(const std::vector<HostEntryInfo>& records) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (records.size() + 1) * sizeof(HostEntryInfo));
    void* p = block ? GlobalLock(block) : nullptr;
    if (p == nullptr) {
        if (block) GlobalFree(block);
        return nullptr;
    }
    std::memcpy(p, records.data(), records.size() * sizeof(HostEntryInfo));
    GlobalUnlock(block);
    return block;
}

// A lister without a read buffer: each entry's first bytes fetched with one
// seek and one read. Returns the records, or nothing on a failed read.
std::vector<HostEntryInfo> PlainListing(const std::string& path, uint32_t* seeksAndReads) {
    std::vector<HostEntryInfo> records;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f == INVALID_HANDLE_VALUE) return records;
    uint32_t operations = 0;
    auto readAt = [&](uint32_t offset, void* into, uint32_t count) {
        DWORD got = 0;
        operations += 2;
        return SetFilePointer(f, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == offset &&
               ReadFile(f, into, count, &got, nullptr) && got == count;
    };
    uint8_t header[16];
    bool ok = readAt(0, header, 16);
    uint32_t count = header[8] | (header[9] << 8);
    std::vector<uint8_t> directory(16 * size_t{count});
    ok = ok && readAt(Le32(header + 10), directory.data(), 16 * count);
    uint32_t position = 16;
    uint8_t head[kPwHeaderSize];
    records.resize(ok ? count : 0);
    for (uint32_t i = 0; ok && i < count; ++i) {
        const uint8_t* entry = &directory[16 * i];
        uint32_t size = Le32(entry + 12);
        uint32_t peek = size < kPwHeaderSize ? size : kPwHeaderSize;
        if (peek > 0 && !readAt(position, head, peek)) ok = false;
        HostEntryInfo& r = records[i];
        std::memset(&r, 0, sizeof r);
        std::memcpy(r.method, "ZorvPack", 8);
        r.position = size == 0 ? 0 : position;  // empty entries are listed at 0
        r.packedSize = size;
        ClassifyEntry(head, size, &r.outputSize);
        for (int k = 0; k < 12 && entry[k] != 0; ++k) r.fileName[k] = static_cast<char>(entry[k]);
        position += size;
    }
    CloseHandle(f);
    if (!ok) records.clear();
    if (seeksAndReads) *seeksAndReads = operations;
    return records;
}

void BenchListing(const std::string& modulePath) {
    LoadedPlugin plugin(modulePath, "zorvpack_bench");
    auto getArchiveInfo = plugin.Export<GetArchiveInfoFn>("GetArchiveInfo");
    auto getFile = plugin.Export<GetFileFn>("GetFile");
    if (!getArchiveInfo || !getFile) return;

    ScratchFolder data("zorvpack_bench_data");
    std::string big = data.Write("small_entries.dat", ab::BuildArchive(ab::SmallEntriesRecipe()));
    ab::ArchiveRecipe tinyRecipe;
    tinyRecipe.entries.push_back({"ONE", ab::Bytes(10, 1)});
    std::string tiny = data.Write("tiny.dat", ab::BuildArchive(tinyRecipe));

    // The plain lister's records: the reference for the module's listing and
    // the content of the floor's listing block.
    uint32_t operations = 0;
    std::vector<HostEntryInfo> plain;
    double plainRecords = MedianSeconds([&] { plain = PlainListing(big, &operations); }, 3, 0.5);
    std::vector<uint8_t> archiveBytes(FileSizeOf(big));

    // Cold cache (another archive is listed in between, so each timed call
    // loads the whole directory), interleaved with the floor: what no lister
    // can avoid, reading the archive's bytes once and making the same
    // listing block.
    std::vector<double> runs, floorRuns;
    std::vector<uint8_t> listing;
    for (int i = 0; i < 15; ++i) {
        HLOCAL list = nullptr;
        getArchiveInfo(tiny.c_str(), 0, 0, &list);
        if (list) GlobalFree(list);
        list = nullptr;
        double t0 = NowSeconds();
        int32_t r = getArchiveInfo(big.c_str(), 0, 0, &list);
        runs.push_back(NowSeconds() - t0);
        if (r != 0 || !list) {
            std::printf("listing failed: %d\n", r);
            return;
        }
        listing = TakeHandle(list);

        t0 = NowSeconds();
        bool read = ReadWhole(big, archiveBytes);
        HGLOBAL block = ListingBlock(plain);
        floorRuns.push_back(NowSeconds() - t0);
        if (!read || !block) {
            std::printf("floor failed\n");
            return;
        }
        GlobalFree(block);
    }
    double module = Median(runs);
    double floor = Median(floorRuns);

    // Where the module's time goes: the directory load alone (a lookup by
    // name from a cold cache).
    auto getFileInfo = plugin.Export<GetFileInfoFn>("GetFileInfo");
    std::vector<double> loads;
    for (int i = 0; i < 9 && getFileInfo; ++i) {
        HLOCAL list = nullptr;
        HostEntryInfo record;
        getArchiveInfo(tiny.c_str(), 0, 0, &list);
        if (list) GlobalFree(list);
        double t0 = NowSeconds();
        getFileInfo(big.c_str(), 0, "E1.BIN", 0, &record);
        loads.push_back(NowSeconds() - t0);
    }
    double moduleLoad = loads.empty() ? 0 : Median(loads);

    std::vector<double> blockRuns;
    for (int i = 0; i < 9; ++i) {
        double t0 = NowSeconds();
        HGLOBAL block = ListingBlock(plain);
        blockRuns.push_back(NowSeconds() - t0);
        if (block) GlobalFree(block);
    }
    double plainBlock = Median(blockRuns);

    bool same = listing.size() == (plain.size() + 1) * sizeof(HostEntryInfo) &&
                std::memcmp(listing.data(), plain.data(), plain.size() * sizeof(HostEntryInfo)) == 0;
    std::printf("Listing 65,535 entries from a cold cache (records %s):\n", same ? "identical" : "DIFFER");
    std::printf("  ZORVPACK.SPI GetArchiveInfo  %6.1f ms, of which directory load %.1f ms\n",
                module * 1e3, moduleLoad * 1e3);
    std::printf("  plain lister                 %6.1f ms: one seek + one read per entry %.1f ms "
                "(%u calls), listing block %.1f ms\n",
                (plainRecords + plainBlock) * 1e3, plainRecords * 1e3, operations, plainBlock * 1e3);
    std::printf("  speed-up: whole call %.1fx; directory reading %.1fx (target >= 20x)\n",
                (plainRecords + plainBlock) / module, moduleLoad > 0 ? plainRecords / moduleLoad : 0.0);
    std::printf("  floor (read the archive once, make the same listing block) %.1f ms; "
                "GetArchiveInfo / floor %.2fx (target < 1.3x)\n",
                floor * 1e3, module / floor);

    // Extract everything in listing order, as a host's "extract all" does.
    auto records = reinterpret_cast<const HostEntryInfo*>(listing.data());
    uint32_t count = static_cast<uint32_t>(plain.size());
    uint64_t bytes = 0;
    uint32_t failed = 0;
    double t0 = NowSeconds();
    for (uint32_t i = 0; i < count; ++i) {
        HLOCAL slot = nullptr;
        if (getFile(big.c_str(), records[i].position, &slot, 0x100, nullptr, 0) != 0 || !slot) {
            ++failed;
            continue;
        }
        bytes += GlobalSize(slot);
        GlobalFree(slot);
    }
    double extract = NowSeconds() - t0;
    std::printf("Extract all: %u GetFile calls in %.0f ms (%.1f us each, %.1f MB delivered, %u failed)\n",
                count, extract * 1e3, extract * 1e6 / count, bytes / 1e6, failed);
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("ZorvPack, 32-bit build\n");
    BenchAudio();
    if (argc >= 2) BenchListing(argv[1]);
    return 0;
}
