// The process-wide cache of the one archive listed last: its entries in
// directory order and an index from data position to entry, so that
// listing, lookups by name and extraction read a directory once.
#pragma once

#include <cstdint>

#include "plugin_frame.h"

// What the cache keeps of an entry. The host's 428-byte record is made from
// it when asked for: most of that record is the same zeros for every entry,
// and keeping it whole would cost 28 MB for a full directory.
struct CachedEntry {
    uint32_t position;
    uint32_t packedSize;
    uint32_t outputSize;
    char name[12];  // as stored: ended by 0x00, or all 12 bytes used
};

// Writes the entry's fields into a zero-filled host record.
void FillRecord(const CachedEntry& entry, ArchiveEntryRecord* record);

// One entry's place in the position index. The audio verdict of the
// listing travels with it so that extraction can tell a rewritten file.
struct PositionIndexEntry {
    uint32_t position;
    uint16_t recordIndex;  // directories hold at most 65535 entries
    uint8_t isAudio;
    uint8_t reserved;
};

struct DirectoryCache {
    CachedEntry* entries;               // recordCount entries, directory order
    PositionIndexEntry* positionIndex;  // recordCount entries, by (position, recordIndex)
    uint32_t recordCount;
    char* cachedPath;   // sized to the path; null while nothing is cached
    uint64_t fileSize;  // of the archive when its directory was read
    CRITICAL_SECTION cacheLock;  // guards every member above
};

extern DirectoryCache directoryCache;

// Both run with cacheLock held. LoadDirectory installs a new directory only
// when every entry was read; on failure the previous one stays and serves.
// EnsureCached loads only when the path differs (byte for byte) from the
// cached one; the cached path is trusted until another is asked for.
PluginResult LoadDirectory(const char* path);
PluginResult EnsureCached(const char* path);

// Orders entries by position, ties by directory order. Positions only ever
// go down at an empty entry (listed at 0) or where the running sum of sizes
// wraps at 2^32, so an archive without either costs one pass.
void SortPositionIndex(PositionIndexEntry* index, uint32_t count);

// The entry of the first record in directory order with that position, or
// null.
const PositionIndexEntry* FindByPosition(const PositionIndexEntry* index, uint32_t count,
                                         uint32_t position);

// The first entry in directory order with that name; with ignoreCase the
// names are compared ignoring ASCII letter case. Null when none matches.
const CachedEntry* FindByName(const char* entryName, bool ignoreCase);
