#include "extract_entry.h"

#include <cstring>

#include "directory_cache.h"
#include "pw_audio.h"

PluginResult ExtractEntry(const char* path, uint32_t position, HGLOBAL* outputSlot,
                          ProgressCallback progress, intptr_t userData) {
    PluginResult result = Aborted;
    bool locked = false;
    HANDLE file = INVALID_HANDLE_VALUE;
    HGLOBAL input = nullptr;
    HGLOBAL output = nullptr;
    auto cleanup = OnScopeExit([&] {
        if (locked) LeaveCriticalSection(&directoryCache.cacheLock);
        CloseIfOpen(file);
        HandOverHandle(input, false, nullptr);
        HandOverHandle(output, result == Ok, outputSlot);
    });
    auto goOn = [&](int32_t step) { return progress == nullptr || progress(step, 7, userData) == 0; };

    EnterCriticalSection(&directoryCache.cacheLock);
    locked = true;
    if (!goOn(0)) return result;
    result = EnsureCached(path);
    if (result != Ok) return result;

    // The host's callback may call back in and replace the cache (the lock
    // admits its own thread again), so everything the extraction needs is
    // taken from the record now, before the next report.
    const PositionIndexEntry* found =
        FindByPosition(directoryCache.positionIndex, directoryCache.recordCount, position);
    uint32_t packedSize = 0, outputSize = 0;
    bool isAudio = false;
    const uint64_t fileSize = directoryCache.fileSize;
    if (found != nullptr) {
        const CachedEntry& entry = directoryCache.entries[found->recordIndex];
        packedSize = entry.packedSize;
        outputSize = entry.outputSize;
        isAudio = found->isAudio != 0;
    }

    result = Aborted;
    if (!goOn(1) || !goOn(2)) return result;
    if (found == nullptr) {
        result = UnsupportedFormat;
        return result;
    }
    if (!goOn(3)) return result;

    // An entry that reaches past the end of the file could never be read
    // whole: refuse it before allocating what its size claims.
    result = ReadError;
    if (static_cast<uint64_t>(position) + packedSize > fileSize) return result;

    // An empty entry is a real, empty file: it gets an empty movable block,
    // which cannot be locked and needs no input block.
    result = NoMemory;
    uint8_t* stored = nullptr;
    uint8_t* delivered = nullptr;
    if (packedSize > 0) {
        input = GlobalAlloc(GMEM_MOVEABLE, packedSize);
        if (input == nullptr) return result;
        stored = static_cast<uint8_t*>(GlobalLock(input));
        if (stored == nullptr) return result;
    }
    output = GlobalAlloc(GMEM_MOVEABLE, outputSize);
    if (output == nullptr) return result;
    if (outputSize > 0) {
        delivered = static_cast<uint8_t*>(GlobalLock(output));
        if (delivered == nullptr) return result;
    }

    result = Aborted;
    if (!goOn(4)) return result;
    result = ReadError;
    file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) return result;
    result = Aborted;
    if (!goOn(5)) return result;
    result = ReadError;
    if (!SeekTo(file, position)) return result;
    result = Aborted;
    if (!goOn(6)) return result;
    result = ReadError;
    if (packedSize > 0 && !ReadExactly(file, stored, packedSize)) return result;

    // The cached record is trusted only as far as the stored bytes agree with
    // it: a file rewritten since it was listed may now classify otherwise, and
    // the blocks were sized by the record.
    uint32_t storedOutputSize = 0;
    bool storedIsAudio = packedSize > 0 && ClassifyEntry(stored, packedSize, &storedOutputSize);
    if (storedIsAudio != isAudio || storedOutputSize != outputSize) return result;

    result = Aborted;
    if (!goOn(7)) return result;
    if (isAudio)
        ConvertPwAudio(delivered, stored);
    else if (outputSize > 0)
        std::memcpy(delivered, stored, outputSize);
    result = Ok;
    return result;
}
