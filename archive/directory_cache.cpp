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

// Everything one directory load holds until it is installed or released.
struct DirectoryLoad {
    HANDLE file;
    ArchiveLayout layout;
    uint8_t* directory;  // the stored 16-byte entries
    CachedEntry* entries;
    PositionIndexEntry* index;
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
uint32_t PeekRunLength(const DirectoryLoad& load, uint32_t i, uint32_t position) {
    const uint64_t fileSize = load.layout.fileSize;
    uint64_t end = uint64_t{position} + PeekLength(EntrySize(load.directory, i));
    uint32_t next = position + EntrySize(load.directory, i);
    for (uint32_t j = i + 1; j < load.layout.entryCount && next >= position; ++j) {
        uint32_t size = EntrySize(load.directory, j);
        uint64_t nextEnd = uint64_t{next} + PeekLength(size);
        if (nextEnd - position > kReadAheadSize || next > end + kLargestGap || nextEnd > fileSize)
            break;
        if (nextEnd > end) end = nextEnd;
        next += size;
    }
    return static_cast<uint32_t>(end - position);
}

// The first bytes of entry i, stored at `position`; null when they cannot be read.
const uint8_t* PeekEntry(DirectoryLoad& load, uint32_t i, uint32_t position) {
    uint32_t peek = PeekLength(EntrySize(load.directory, i));
    uint32_t fill = ReadAheadHolds(load.peeks, position, peek) ? peek : PeekRunLength(load, i, position);
    return ReadExactlyAt(&load.peeks, position, peek, fill);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// A stored name of 12 characters has no terminator of its own.
bool NamesEqual(const char (&stored)[kEntryNameLength], const char* wanted, bool ignoreCase) {
    for (uint32_t k = 0; k < kEntryNameLength; ++k) {
        char a = ignoreCase ? UpperAscii(stored[k]) : stored[k];
        char b = ignoreCase ? UpperAscii(wanted[k]) : wanted[k];
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
    return CheckArchiveHeader(load->file, &load->layout);
}

// Stops at the first block that cannot be had; the clean-up frees the rest.
bool AllocateLoad(const char* path, DirectoryLoad* load) {
    const uint32_t count = load->layout.entryCount;
    load->entries = static_cast<CachedEntry*>(AllocAtLeastOne(count * sizeof(CachedEntry)));
    if (load->entries == nullptr) return false;
    load->index = static_cast<PositionIndexEntry*>(AllocAtLeastOne(count * sizeof(PositionIndexEntry)));
    if (load->index == nullptr) return false;
    load->directory = static_cast<uint8_t*>(AllocAtLeastOne(count * kDirectoryEntrySize));
    if (load->directory == nullptr) return false;
    if (!StartReadAhead(&load->peeks, load->file, load->layout.fileSize, kReadAheadSize)) return false;
    load->pathCopy = static_cast<char*>(AllocScratch(static_cast<uint32_t>(std::strlen(path)) + 1));
    return load->pathCopy != nullptr;
}

// Read directly, as it may exceed the read-ahead buffer; that buffer takes
// the file's position as unknown until its own first read, so the seek here
// cannot mislead it.
bool ReadStoredDirectory(DirectoryLoad* load) {
    const uint32_t count = load->layout.entryCount;
    return count == 0 || (SeekTo(load->file, load->layout.directoryOffset) &&
                          ReadExactly(load->file, load->directory, count * kDirectoryEntrySize));
}

// Entry i as the cache keeps it, and its place in the position index.
void RecordEntry(DirectoryLoad* load, uint32_t i, uint32_t position, uint32_t outputSize,
                 bool isAudio) {
    const uint8_t* stored = load->directory + i * kDirectoryEntrySize;
    const uint32_t packedSize = EntrySize(load->directory, i);
    // An empty entry starts where the next one does; listed there, it
    // would hide that entry from extraction by position. No entry with
    // bytes starts before offset 16, so 0 is free to name empty ones.
    const uint32_t listedPosition = packedSize == 0 ? 0 : position;
    CachedEntry& cached = load->entries[i];
    cached.position = listedPosition;
    cached.packedSize = packedSize;
    cached.outputSize = outputSize;
    // Bytes after a terminator are not part of the name.
    bool ended = false;
    for (uint32_t k = 0; k < kEntryNameLength; ++k) {
        ended = ended || stored[k] == 0;
        cached.name[k] = ended ? '\0' : static_cast<char>(stored[k]);
    }
    load->index[i] = PositionIndexEntry{listedPosition, static_cast<uint16_t>(i),
                                        static_cast<uint8_t>(isAudio), 0};
}

// Entries are stored back to back from offset 16 in directory order; each
// is sized by its first bytes (coded audio grows when it is converted).
bool ClassifyEntries(DirectoryLoad* load) {
    uint32_t position = kFirstEntryPosition;
    for (uint32_t i = 0; i < load->layout.entryCount; ++i) {
        const uint32_t packedSize = EntrySize(load->directory, i);
        const uint8_t* head = PeekEntry(*load, i, position);
        if (head == nullptr) return false;
        uint32_t outputSize = 0;
        bool isAudio = ClassifyEntry(head, packedSize, &outputSize);
        RecordEntry(load, i, position, outputSize, isAudio);
        position += packedSize;  // wraps at 2^32 like the format's own sums
    }
    return true;
}

// The new directory replaces the cached one; the load no longer owns it.
void InstallDirectory(const char* path, DirectoryLoad* load) {
    std::strcpy(load->pathCopy, path);
    FreeCachedDirectory();
    directoryCache.entries = load->entries;
    directoryCache.positionIndex = load->index;
    directoryCache.recordCount = load->layout.entryCount;
    directoryCache.cachedPath = load->pathCopy;
    directoryCache.fileSize = load->layout.fileSize;
    load->entries = nullptr;
    load->index = nullptr;
    load->pathCopy = nullptr;
}

void ReleaseLoad(DirectoryLoad* load) {
    CloseIfOpen(load->file);
    EndReadAhead(&load->peeks);
    FreeScratch(load->directory);
    FreeScratch(load->pathCopy);
    FreeScratch(load->index);
    FreeScratch(load->entries);
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
    SortPositionIndex(load.index, load.layout.entryCount);
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
    char first = ignoreCase ? UpperAscii(entryName[0]) : entryName[0];
    for (uint32_t i = 0; i < directoryCache.recordCount; ++i) {
        const CachedEntry& entry = directoryCache.entries[i];
        char candidate = ignoreCase ? UpperAscii(entry.name[0]) : entry.name[0];
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
