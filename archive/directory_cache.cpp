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
// buffer, refilled only when the next peek falls outside it: one seek and
// read per entry costs a system call pair each, which dominates the load.
constexpr uint32_t kWindowSize = 64 * 1024;
// A refill stretches over the following peeks while the bytes between them
// cost less to read than another seek and read would.
constexpr uint32_t kLargestGap = 4096;

uint32_t EntrySize(const uint8_t* directory, uint32_t i) {
    return ReadLe32(directory + i * kDirectoryEntrySize + kEntryNameLength);
}

uint32_t PeekLength(uint32_t packedSize) {
    return packedSize < kPwHeaderSize ? packedSize : kPwHeaderSize;
}

struct PeekWindow {
    HANDLE file;
    uint8_t* buffer;
    uint64_t fileSize;
    uint64_t start;
    uint32_t length;
    uint64_t filePointer;

    // Makes the peek of entry `i` at `position` available at *head. The refill
    // covers the peeks that follow as far as they lie ahead, close together
    // and within the buffer; it never reads past the end of the file.
    bool Peek(const uint8_t* directory, uint32_t count, uint32_t i, uint32_t position,
              uint32_t peekLength, const uint8_t** head) {
        uint64_t peekEnd = static_cast<uint64_t>(position) + peekLength;
        if (position >= start && peekEnd <= start + length) {
            *head = buffer + (position - start);
            return true;
        }
        if (peekLength == 0) return true;
        if (peekEnd > fileSize) return false;  // the read would come up short

        uint64_t end = peekEnd;
        uint32_t next = position + EntrySize(directory, i);
        for (uint32_t j = i + 1; j < count && next >= position; ++j) {
            uint32_t size = EntrySize(directory, j);
            uint64_t nextEnd = static_cast<uint64_t>(next) + PeekLength(size);
            if (nextEnd - position > kWindowSize || next > end + kLargestGap || nextEnd > fileSize)
                break;
            if (nextEnd > end) end = nextEnd;
            next += size;
        }
        uint32_t want = static_cast<uint32_t>(end - position);
        if (filePointer != position && !SeekTo(file, position)) return false;
        filePointer = static_cast<uint64_t>(-1);  // unknown until the read succeeds
        if (!ReadExactly(file, buffer, want)) return false;
        filePointer = end;
        start = position;
        length = want;
        *head = buffer;
        return true;
    }
};

// Blocks of zero bytes count as obtained: an empty archive is still one.
void* AllocAtLeastOne(uint32_t size) { return AllocScratch(size ? size : 1); }

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

}  // namespace

PluginResult LoadDirectory(const char* path) {
    PluginResult result = ReadError;
    HANDLE file = INVALID_HANDLE_VALUE;
    CachedEntry* entries = nullptr;
    PositionIndexEntry* index = nullptr;
    uint8_t* directory = nullptr;
    uint8_t* window = nullptr;
    char* pathCopy = nullptr;
    auto cleanup = OnScopeExit([&] {
        CloseIfOpen(file);
        FreeScratch(window);
        FreeScratch(directory);
        if (result != Ok) {  // not installed
            FreeScratch(pathCopy);
            FreeScratch(index);
            FreeScratch(entries);
        }
    });

    // One open serves both the header check and the directory read, so the
    // header cannot change between the two.
    file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) return result;
    ArchiveLayout layout;
    result = CheckArchiveHeader(file, &layout);
    if (result != Ok) return result;
    const uint32_t count = layout.entryCount;

    result = NoMemory;
    entries = static_cast<CachedEntry*>(AllocAtLeastOne(count * sizeof(CachedEntry)));
    if (entries == nullptr) return result;
    index = static_cast<PositionIndexEntry*>(AllocAtLeastOne(count * sizeof(PositionIndexEntry)));
    if (index == nullptr) return result;
    directory = static_cast<uint8_t*>(AllocAtLeastOne(count * kDirectoryEntrySize));
    if (directory == nullptr) return result;
    window = static_cast<uint8_t*>(AllocScratch(kWindowSize));
    if (window == nullptr) return result;
    pathCopy = static_cast<char*>(AllocScratch(static_cast<uint32_t>(std::strlen(path)) + 1));
    if (pathCopy == nullptr) return result;

    result = ReadError;
    if (count > 0 && (!SeekTo(file, layout.directoryOffset) ||
                      !ReadExactly(file, directory, count * kDirectoryEntrySize)))
        return result;

    uint64_t filePointer = count > 0 ? layout.directoryOffset + uint64_t{count} * kDirectoryEntrySize
                                     : kArchiveHeaderSize;
    PeekWindow peeks{file, window, layout.fileSize, 0, 0, filePointer};
    uint32_t position = kFirstEntryPosition;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = directory + i * kDirectoryEntrySize;
        uint32_t packedSize = EntrySize(directory, i);
        const uint8_t* head = nullptr;
        if (!peeks.Peek(directory, count, i, position, PeekLength(packedSize), &head)) return result;
        uint32_t outputSize = 0;
        bool isAudio = ClassifyEntry(head, packedSize, &outputSize);

        // An empty entry starts where the next one does; listed there, it
        // would hide that entry from extraction by position. No entry with
        // bytes starts before offset 16, so 0 is free to name empty ones.
        const uint32_t listedPosition = packedSize == 0 ? 0 : position;
        CachedEntry& cached = entries[i];
        cached.position = listedPosition;
        cached.packedSize = packedSize;
        cached.outputSize = outputSize;
        // Bytes after a terminator are not part of the name.
        bool ended = false;
        for (uint32_t k = 0; k < kEntryNameLength; ++k) {
            ended = ended || entry[k] == 0;
            cached.name[k] = ended ? '\0' : static_cast<char>(entry[k]);
        }
        index[i] = PositionIndexEntry{listedPosition, static_cast<uint16_t>(i),
                                      static_cast<uint8_t>(isAudio), 0};
        position += packedSize;  // wraps at 2^32 like the format's own sums
    }
    SortPositionIndex(index, count);
    std::strcpy(pathCopy, path);

    FreeCachedDirectory();
    directoryCache.entries = entries;
    directoryCache.positionIndex = index;
    directoryCache.recordCount = count;
    directoryCache.cachedPath = pathCopy;
    directoryCache.fileSize = layout.fileSize;
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
