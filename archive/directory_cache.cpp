#include "directory_cache.h"

#include <algorithm>
#include <cstring>

#include "archive_probe.h"
#include "pw_audio.h"

DirectoryCache directoryCache;

void ModuleAttach() {
    directoryCache.records = nullptr;
    directoryCache.positionIndex = nullptr;
    directoryCache.recordCount = 0;
    directoryCache.cachedPath = nullptr;
    directoryCache.fileSize = 0;
    InitializeCriticalSection(&directoryCache.cacheLock);
}

void ModuleDetach() {
    FreeScratch(directoryCache.records);
    FreeScratch(directoryCache.positionIndex);
    FreeScratch(directoryCache.cachedPath);
    directoryCache.records = nullptr;
    directoryCache.positionIndex = nullptr;
    directoryCache.cachedPath = nullptr;
    directoryCache.recordCount = 0;
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

bool NamesEqual(const char* a, const char* b, bool ignoreCase) {
    if (!ignoreCase) return std::strcmp(a, b) == 0;
    for (; *a != '\0' && UpperAscii(*a) == UpperAscii(*b); ++a, ++b) {
    }
    return UpperAscii(*a) == UpperAscii(*b);
}

}  // namespace

PluginResult LoadDirectory(const char* path) {
    PluginResult result = ReadError;
    HANDLE file = INVALID_HANDLE_VALUE;
    ArchiveEntryRecord* records = nullptr;
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
            FreeScratch(records);
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
    // Zero-filled: every record byte the directory gives no value stays 0.
    records = static_cast<ArchiveEntryRecord*>(
        GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, count ? count * sizeof(ArchiveEntryRecord) : 1));
    if (records == nullptr) return result;
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

        ArchiveEntryRecord& record = records[i];
        std::memcpy(record.method, "ZorvPack", sizeof record.method);
        record.position = position;
        record.packedSize = packedSize;
        record.outputSize = outputSize;
        for (uint32_t k = 0; k < kEntryNameLength && entry[k] != 0; ++k)
            record.fileName[k] = static_cast<char>(entry[k]);
        index[i] = PositionIndexEntry{position, static_cast<uint16_t>(i),
                                      static_cast<uint8_t>(isAudio), 0};
        position += packedSize;  // wraps at 2^32 like the format's own sums
    }
    SortPositionIndex(index, count);
    std::strcpy(pathCopy, path);

    FreeScratch(directoryCache.records);
    FreeScratch(directoryCache.positionIndex);
    FreeScratch(directoryCache.cachedPath);
    directoryCache.records = records;
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

const ArchiveEntryRecord* FindByName(const char* entryName, bool ignoreCase) {
    char first = ignoreCase ? UpperAscii(entryName[0]) : entryName[0];
    for (uint32_t i = 0; i < directoryCache.recordCount; ++i) {
        const ArchiveEntryRecord& record = directoryCache.records[i];
        char candidate = ignoreCase ? UpperAscii(record.fileName[0]) : record.fileName[0];
        if (candidate == first && NamesEqual(record.fileName, entryName, ignoreCase))
            return &record;
    }
    return nullptr;
}
