#include "directory_cache.h"

#include <algorithm>
#include <cstring>

#include "archive_probe.h"
#include "pw_audio.h"

DirectoryCache directoryCache;

void ModuleAttach() {
    directoryCache.entries = nullptr;
    directoryCache.positionIndex = nullptr;
    directoryCache.recordCount = 0;
    directoryCache.cachedPath = nullptr;
    directoryCache.fileSize = 0;
    InitializeCriticalSection(&directoryCache.cacheLock);
}

namespace {

void FreeCachedDirectory() {
    FreeScratch(directoryCache.entries);
    FreeScratch(directoryCache.positionIndex);
    FreeScratch(directoryCache.cachedPath);
    directoryCache.entries = nullptr;
    directoryCache.positionIndex = nullptr;
    directoryCache.cachedPath = nullptr;
    directoryCache.recordCount = 0;
}

}  // namespace

void ModuleDetach() {
    FreeCachedDirectory();
    DeleteCriticalSection(&directoryCache.cacheLock);
}

namespace {

// Listing reads each entry's first bytes (to size audio entries) through one
// read-ahead buffer: one seek and read per entry would cost a system call
// pair each, which would dominate the load.
constexpr uint32_t kReadAheadSize = 64 * 1024;
// A refill stretches over the following peeks while the bytes between them
// cost less to read than another seek and read would.
constexpr uint32_t kLargestGap = 4096;

// The directory as stored, and the cache's two arrays being made from it.
struct EntryArrays {
    uint8_t* directory;  // the stored 16-byte entries
    CachedEntry* entries;
    PositionIndexEntry* index;
    uint32_t count;
};

// Everything one directory load holds until it is installed or released.
struct DirectoryLoad {
    HANDLE file;
    ArchiveLayout layout;
    EntryArrays arrays;
    char* pathCopy;
    ReadAheadBuffer peeks;
};

uint32_t EntrySize(const uint8_t* directory, uint32_t i) {
    return ReadLe32(directory + i * kDirectoryEntrySize + kEntryNameLength);
}

// How many of an entry's first bytes decide what it is.
uint32_t PeekLength(uint32_t packedSize) {
    return packedSize < kPwHeaderSize ? packedSize : kPwHeaderSize;
}

// Blocks of zero bytes count as obtained: an empty archive is still one.
void* AllocAtLeastOne(uint32_t size) { return AllocScratch(size ? size : 1); }

// How far a refill for the peek of entry i at `position` should reach: over
// the peeks that follow as far as they lie ahead, close together, within the
// buffer and inside the file.
uint32_t PeekRunLength(const EntryArrays& arrays, uint64_t fileSize, uint32_t i, uint32_t position) {
    uint64_t end = uint64_t{position} + PeekLength(EntrySize(arrays.directory, i));
    uint32_t next = position + EntrySize(arrays.directory, i);
    for (uint32_t j = i + 1; j < arrays.count && next >= position; ++j) {
        uint32_t size = EntrySize(arrays.directory, j);
        uint64_t nextEnd = uint64_t{next} + PeekLength(size);
        if (nextEnd - position > kReadAheadSize || next > end + kLargestGap || nextEnd > fileSize)
            break;
        if (nextEnd > end) end = nextEnd;
        next += size;
    }
    return static_cast<uint32_t>(end - position);
}

// A stored name of 12 characters has no terminator of its own.
bool NamesEqual(const char (&stored)[kEntryNameLength], const char* wanted, bool ignoreCase) {
    for (uint32_t k = 0; k < kEntryNameLength; ++k) {
        char a = ignoreCase ? FoldArchiveNameByte(stored[k]) : stored[k];
        char b = ignoreCase ? FoldArchiveNameByte(wanted[k]) : wanted[k];
        if (a != b) return false;
        if (a == '\0') return true;
    }
    return wanted[kEntryNameLength] == '\0';
}

// One open serves both the header check and the directory read, so the
// header cannot change between the two.
PluginResult OpenArchive(const char* path, DirectoryLoad* load) {
    load->file = OpenForReading(path);
    if (load->file == INVALID_HANDLE_VALUE) return ReadError;
    PluginResult result = CheckArchiveHeader(load->file, &load->layout);
    load->arrays.count = load->layout.entryCount;
    return result;
}

// Stops at the first block that cannot be had; the clean-up frees the rest.
bool AllocateLoad(const char* path, DirectoryLoad* load) {
    EntryArrays& arrays = load->arrays;
    arrays.entries = static_cast<CachedEntry*>(AllocAtLeastOne(arrays.count * sizeof(CachedEntry)));
    if (arrays.entries == nullptr) return false;
    arrays.index = static_cast<PositionIndexEntry*>(AllocAtLeastOne(arrays.count * sizeof(PositionIndexEntry)));
    if (arrays.index == nullptr) return false;
    arrays.directory = static_cast<uint8_t*>(AllocAtLeastOne(arrays.count * kDirectoryEntrySize));
    if (arrays.directory == nullptr) return false;
    if (!StartReadAhead(&load->peeks, load->file, load->layout.fileSize, kReadAheadSize)) return false;
    load->pathCopy = static_cast<char*>(AllocScratch(static_cast<uint32_t>(std::strlen(path)) + 1));
    return load->pathCopy != nullptr;
}

// Read directly, as it may exceed the read-ahead buffer; that buffer takes
// the file's position as unknown until its own first read, so the seek here
// cannot mislead it.
bool ReadStoredDirectory(DirectoryLoad* load) {
    const uint32_t count = load->arrays.count;
    return count == 0 || (SeekTo(load->file, load->layout.directoryOffset) &&
                          ReadExactly(load->file, load->arrays.directory, count * kDirectoryEntrySize));
}

// The first bytes of entry i, stored at `position`; null when they cannot be read.
const uint8_t* PeekEntry(DirectoryLoad* load, const EntryArrays& arrays, uint32_t i,
                         uint32_t position, uint32_t packedSize) {
    uint32_t peek = PeekLength(packedSize);
    if (const uint8_t* held = HeldBytes(load->peeks, position, peek)) return held;
    return ReadExactlyAt(&load->peeks, position, peek,
                         PeekRunLength(arrays, load->layout.fileSize, i, position));
}

// Entry i as the cache keeps it, and its place in the position index.
void RecordEntry(const EntryArrays& arrays, uint32_t i, uint32_t position, uint32_t packedSize,
                 uint32_t outputSize, bool isAudio) {
    const uint8_t* stored = arrays.directory + i * kDirectoryEntrySize;
    // An empty entry starts where the next one does; listed there, it
    // would hide that entry from extraction by position. No entry with
    // bytes starts before offset 16, so 0 is free to name empty ones.
    const uint32_t listedPosition = packedSize == 0 ? 0 : position;
    CachedEntry& cached = arrays.entries[i];
    cached.position = listedPosition;
    cached.packedSize = packedSize;
    cached.outputSize = outputSize;
    // Bytes after a terminator are not part of the name.
    bool ended = false;
    for (uint32_t k = 0; k < kEntryNameLength; ++k) {
        ended = ended || stored[k] == 0;
        cached.name[k] = ended ? '\0' : static_cast<char>(stored[k]);
    }
    arrays.index[i] = PositionIndexEntry{listedPosition, static_cast<uint16_t>(i),
                                         static_cast<uint8_t>(isAudio), 0};
}

// Entries are stored back to back from offset 16 in directory order; each
// is sized by its first bytes (coded audio grows when it is converted).
bool ClassifyEntries(DirectoryLoad* load) {
    // A copy of the pointers, which stays in registers across the calls below.
    const EntryArrays arrays = load->arrays;
    uint32_t position = kFirstEntryPosition;
    for (uint32_t i = 0; i < arrays.count; ++i) {
        const uint32_t packedSize = EntrySize(arrays.directory, i);
        const uint8_t* head = PeekEntry(load, arrays, i, position, packedSize);
        if (head == nullptr) return false;
        uint32_t outputSize = 0;
        bool isAudio = ClassifyEntry(head, packedSize, &outputSize);
        RecordEntry(arrays, i, position, packedSize, outputSize, isAudio);
        position += packedSize;  // wraps at 2^32 like the format's own sums
    }
    return true;
}

// The new directory replaces the cached one; the load no longer owns it.
void InstallDirectory(const char* path, DirectoryLoad* load) {
    std::strcpy(load->pathCopy, path);
    FreeCachedDirectory();
    directoryCache.entries = load->arrays.entries;
    directoryCache.positionIndex = load->arrays.index;
    directoryCache.recordCount = load->arrays.count;
    directoryCache.cachedPath = load->pathCopy;
    directoryCache.fileSize = load->layout.fileSize;
    load->arrays.entries = nullptr;
    load->arrays.index = nullptr;
    load->pathCopy = nullptr;
}

void ReleaseLoad(DirectoryLoad* load) {
    CloseIfOpen(load->file);
    EndReadAhead(&load->peeks);
    FreeScratch(load->arrays.directory);
    FreeScratch(load->pathCopy);
    FreeScratch(load->arrays.index);
    FreeScratch(load->arrays.entries);
}

}  // namespace

PluginResult LoadDirectory(const char* path) {
    PluginResult result = ReadError;
    DirectoryLoad load = {};
    load.file = INVALID_HANDLE_VALUE;
    auto cleanup = OnScopeExit([&] { ReleaseLoad(&load); });

    result = OpenArchive(path, &load);
    if (result != Ok) return result;
    result = NoMemory;
    if (!AllocateLoad(path, &load)) return result;
    result = ReadError;
    if (!ReadStoredDirectory(&load) || !ClassifyEntries(&load)) return result;
    SortPositionIndex(load.arrays.index, load.arrays.count);
    InstallDirectory(path, &load);
    result = Ok;
    return result;
}

PluginResult EnsureCached(const char* path) {
    // Byte for byte: letter case counts, and nothing is cut to a buffer.
    const char* cached = directoryCache.cachedPath ? directoryCache.cachedPath : "";
    if (std::strcmp(path, cached) == 0) return Ok;
    return LoadDirectory(path);
}

void SortPositionIndex(PositionIndexEntry* index, uint32_t count) {
    auto before = [](const PositionIndexEntry& a, const PositionIndexEntry& b) {
        return a.position != b.position ? a.position < b.position : a.recordIndex < b.recordIndex;
    };
    // Entries are made in directory order, so ascending positions are sorted.
    for (uint32_t i = 1; i < count; ++i) {
        if (index[i].position < index[i - 1].position) {
            std::sort(index, index + count, before);
            return;
        }
    }
}

const PositionIndexEntry* FindByPosition(const PositionIndexEntry* index, uint32_t count,
                                         uint32_t position) {
    uint32_t low = 0, high = count;  // first entry not below `position`
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        if (index[middle].position < position)
            low = middle + 1;
        else
            high = middle;
    }
    return low < count && index[low].position == position ? &index[low] : nullptr;
}

const CachedEntry* FindByName(const char* entryName, bool ignoreCase) {
    char first = ignoreCase ? FoldArchiveNameByte(entryName[0]) : entryName[0];
    for (uint32_t i = 0; i < directoryCache.recordCount; ++i) {
        const CachedEntry& entry = directoryCache.entries[i];
        char candidate = ignoreCase ? FoldArchiveNameByte(entry.name[0]) : entry.name[0];
        if (candidate == first && NamesEqual(entry.name, entryName, ignoreCase)) return &entry;
    }
    return nullptr;
}

void FillRecord(const CachedEntry& entry, ArchiveEntryRecord* record) {
    std::memcpy(record->method, "ZorvPack", sizeof record->method);
    record->position = entry.position;
    record->packedSize = entry.packedSize;
    record->outputSize = entry.outputSize;
    std::memcpy(record->fileName, entry.name, sizeof entry.name);
}
