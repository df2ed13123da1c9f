// The archive module end to end on an input file: list, look up names, extract every listed position with a progress callback that aborts at a step chosen from the input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive_exports.h"
#include "platform_testing.h"
#include "pw_audio.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsAllowed(int32_t result) {
    return result == Ok || result == Aborted || result == UnsupportedFormat || result == NoMemory ||
           result == ReadError;
}

struct AbortPlan {
    int32_t abortAt;  // 0..7, or beyond: never
};

int32_t WINAPI Progress(int32_t step, int32_t total, intptr_t userData) {
    Check(total == 7 && step >= 0 && step <= 7);
    return step == reinterpret_cast<AbortPlan*>(userData)->abortAt ? 1 : 0;
}

std::vector<uint8_t> Take(HGLOBAL handle) {
    Check((GlobalFlags(handle) & GMEM_LOCKCOUNT) == 0);
    std::vector<uint8_t> bytes(GlobalSize(handle));
    if (!bytes.empty()) {
        const void* data = GlobalLock(handle);
        Check(data != nullptr);
        std::memcpy(bytes.data(), data, bytes.size());
        GlobalUnlock(handle);
    }
    GlobalFree(handle);
    return bytes;
}

// What a correct extraction of this record delivers, from the file's bytes.
void CheckEntry(const std::vector<uint8_t>& file, const ArchiveEntryRecord& record,
                const std::vector<uint8_t>& delivered) {
    Check(delivered.size() == record.outputSize);
    uint64_t end = uint64_t{record.position} + record.packedSize;
    Check(end <= file.size());  // an entry past the end cannot have been read
    const uint8_t* stored = file.data() + record.position;
    uint32_t outputSize = 0;
    if (ClassifyEntry(stored, record.packedSize, &outputSize)) {
        std::vector<uint8_t> wave(outputSize);
        ConvertPwAudio(wave.data(), stored);
        Check(wave == delivered);
    } else {
        Check(delivered.empty() || std::memcmp(stored, delivered.data(), delivered.size()) == 0);
    }
}

void Exercise(const char* path, const std::vector<uint8_t>& file, int32_t abortAt) {
    HGLOBAL listing = nullptr;
    int32_t result = GetArchiveInfo(path, 0, 0, &listing);
    Check(IsAllowed(result));
    if (result != Ok) {
        Check(listing == nullptr);
        return;
    }
    std::vector<uint8_t> block = Take(listing);
    Check(block.size() % sizeof(ArchiveEntryRecord) == 0 && !block.empty());
    size_t count = block.size() / sizeof(ArchiveEntryRecord) - 1;
    const auto* records = reinterpret_cast<const ArchiveEntryRecord*>(block.data());
    Check(records[count].method[0] == '\0');

    ArchiveEntryRecord found;
    for (size_t i = 0; i < count && i < 4; ++i) {
        std::string name(records[i].fileName);
        Check(GetFileInfo(path, 0, name.c_str(), 0, &found) == Ok);
        Check(GetFileInfo(path, 0, name.c_str(), IgnoreCase, &found) == Ok);
    }
    GetFileInfo(path, 0, "no such name", IgnoreCase, &found);

    AbortPlan plan{abortAt};
    for (size_t i = 0; i < count; ++i) {
        HGLOBAL entry = nullptr;
        result = GetFile(path, records[i].position, &entry, DestInMemory, Progress,
                         reinterpret_cast<intptr_t>(&plan));
        Check(IsAllowed(result) && (result == Ok) == (entry != nullptr));
        if (result == Aborted) Check(abortAt <= 7);
        if (result != Ok) continue;
        // The first record with this position is the one delivered.
        size_t first = 0;
        while (records[first].position != records[i].position) ++first;
        CheckEntry(file, records[first], Take(entry));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static long serial = 0;
    const platform_testing::LiveCounts before = platform_testing::Live();
    // A new path every time: the cache trusts a path it has read.
    char path[96];
    std::snprintf(path, sizeof path, "/tmp/fuzz_archive_%d_%ld.dat", static_cast<int>(getpid()), serial++);
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::vector<uint8_t> file(data, data + size);
    Exercise(path, file, size > 0 ? data[size - 1] % 12 : 99);
    std::remove(path);

    // Unload and load again: nothing may stay behind but what the cache held.
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    Check(platform_testing::Live() == before);
    return 0;
}
