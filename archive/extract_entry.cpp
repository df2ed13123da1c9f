#include "extract_entry.h"

#include <cstring>

#include "directory_cache.h"
#include "pw_audio.h"

namespace {

// What the cached record says of the wanted entry.
struct EntryFacts {
    uint32_t position;
    uint32_t packedSize;
    uint32_t outputSize;
    bool isAudio;
    uint64_t fileSize;  // of the archive when it was listed
};

// Everything one extraction holds until its clean-up.
struct Extraction {
    HANDLE file;
    HGLOBAL input;   // the stored bytes; always freed here
    HGLOBAL output;  // what the host receives
    uint8_t* stored;
    uint8_t* delivered;
};

struct ProgressReports {
    ProgressCallback progress;
    intptr_t userData;
    // False when the host asks to stop.
    bool Report(int32_t step) const { return progress == nullptr || progress(step, 7, userData) == 0; }
};

// The host's callback may call back in and replace the cache (the lock
// admits its own thread again), so everything the extraction needs is taken
// from the record now, before the next report.
bool TakeEntryFacts(uint32_t position, EntryFacts* facts) {
    const PositionIndexEntry* found =
        FindByPosition(directoryCache.positionIndex, directoryCache.recordCount, position);
    if (found == nullptr) return false;
    const CachedEntry& entry = directoryCache.entries[found->recordIndex];
    *facts = EntryFacts{position, entry.packedSize, entry.outputSize, found->isAudio != 0,
                        directoryCache.fileSize};
    return true;
}

// An entry that reaches past the end of the file could never be read whole:
// it is refused before anything is allocated for what its size claims.
bool LiesInsideFile(const EntryFacts& facts) {
    return uint64_t{facts.position} + facts.packedSize <= facts.fileSize;
}

// An empty entry is a real, empty file: it gets an empty movable block, which
// cannot be locked and needs no input block.
bool AllocateBlocks(const EntryFacts& facts, Extraction* work) {
    if (facts.packedSize > 0) {
        work->stored = static_cast<uint8_t*>(AllocAndLock(facts.packedSize, 0, &work->input));
        if (work->stored == nullptr) return false;
    }
    if (facts.outputSize == 0) {
        work->output = GlobalAlloc(GMEM_MOVEABLE, 0);
        return work->output != nullptr;
    }
    work->delivered = static_cast<uint8_t*>(AllocAndLock(facts.outputSize, 0, &work->output));
    return work->delivered != nullptr;
}

// The cached record is trusted only as far as the stored bytes agree with
// it: a file rewritten since it was listed may now classify otherwise, and
// the blocks were sized by the record.
bool StoredBytesMatchRecord(const EntryFacts& facts, const Extraction& work) {
    uint32_t storedOutputSize = 0;
    bool storedIsAudio =
        facts.packedSize > 0 && ClassifyEntry(work.stored, facts.packedSize, &storedOutputSize);
    return storedIsAudio == facts.isAudio && storedOutputSize == facts.outputSize;
}

void Deliver(const EntryFacts& facts, Extraction* work) {
    if (facts.isAudio)
        ConvertPwAudio(work->delivered, work->stored);
    else if (facts.outputSize > 0)
        std::memcpy(work->delivered, work->stored, facts.outputSize);
}

}  // namespace

PluginResult ExtractEntry(const char* path, uint32_t position, HGLOBAL* outputSlot,
                          ProgressCallback progress, intptr_t userData) {
    PluginResult result = Aborted;
    Extraction work = {INVALID_HANDLE_VALUE, nullptr, nullptr, nullptr, nullptr};
    auto cleanup = OnScopeExit([&] {
        CloseIfOpen(work.file);
        HandOverHandle(work.input, false, nullptr);
        HandOverHandle(work.output, result == Ok, outputSlot);
    });
    SectionLock lock(&directoryCache.cacheLock);
    const ProgressReports reports{progress, userData};

    if (!reports.Report(0)) return result;
    result = EnsureCached(path);
    if (result != Ok) return result;
    EntryFacts facts = {};
    const bool found = TakeEntryFacts(position, &facts);

    result = Aborted;
    if (!reports.Report(1) || !reports.Report(2)) return result;
    result = UnsupportedFormat;
    if (!found) return result;
    result = Aborted;
    if (!reports.Report(3)) return result;
    result = ReadError;
    if (!LiesInsideFile(facts)) return result;
    result = NoMemory;
    if (!AllocateBlocks(facts, &work)) return result;

    result = Aborted;
    if (!reports.Report(4)) return result;
    result = ReadError;
    work.file = OpenForReading(path);
    if (work.file == INVALID_HANDLE_VALUE) return result;
    result = Aborted;
    if (!reports.Report(5)) return result;
    result = ReadError;
    if (!SeekTo(work.file, position)) return result;
    result = Aborted;
    if (!reports.Report(6)) return result;
    result = ReadError;
    if (facts.packedSize > 0 && !ReadExactly(work.file, work.stored, facts.packedSize)) return result;
    if (!StoredBytesMatchRecord(facts, work)) return result;

    result = Aborted;
    if (!reports.Report(7)) return result;
    Deliver(facts, &work);
    result = Ok;
    return result;
}
