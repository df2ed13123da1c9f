// Calls the archive entry points the way a host does and checks what every
// call must leave behind: unlocked handles on success, untouched slots and
// records otherwise.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "archive_builder.h"
#include "archive_exports.h"
#include "directory_cache.h"
#include "plugin_frame.h"
#include "platform_testing.h"
#include "take_handle.h"

// What the host leaves in its slots before a call.
inline HGLOBAL SlotSentinel() { return reinterpret_cast<HGLOBAL>(uintptr_t{0x5EED0}); }

inline ArchiveEntryRecord MakeRecord(const std::string& name, uint32_t position, uint32_t packedSize,
                                     uint32_t outputSize) {
    ArchiveEntryRecord record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.method, "ZorvPack", 8);
    record.position = position;
    record.packedSize = packedSize;
    record.outputSize = outputSize;
    std::memcpy(record.fileName, name.data(), name.size() < 12 ? name.size() : 12);
    return record;
}

// Records a correct reader lists for an archive built from `recipe`.
inline std::vector<ArchiveEntryRecord> ExpectedListing(const archive_builder::ArchiveRecipe& recipe,
                                                       const std::vector<uint32_t>& outputSizes = {}) {
    std::vector<ArchiveEntryRecord> records;
    std::vector<uint32_t> positions = archive_builder::EntryPositions(recipe);
    std::vector<uint32_t> sizes = archive_builder::StoredSizes(recipe);
    for (size_t i = 0; i < recipe.entries.size(); ++i) {
        uint32_t size = sizes[i];
        records.push_back(MakeRecord(recipe.entries[i].name, positions[i], size,
                                     i < outputSizes.size() ? outputSizes[i] : size));
    }
    return records;
}

inline bool SameRecord(const ArchiveEntryRecord& a, const ArchiveEntryRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Listing {
    int32_t result;
    std::vector<ArchiveEntryRecord> records;
};

// GetArchiveInfo; on Ok checks the block's size and its all-zero terminator.
inline Listing CallGetArchiveInfo(const std::string& path, uint32_t flags = 0) {
    HGLOBAL handle = SlotSentinel();
    Listing listing{GetArchiveInfo(path.c_str(), 0, flags, &handle), {}};
    if (listing.result != Ok) {
        EXPECT_EQ(handle, SlotSentinel()) << "slot written on failure";
        return listing;
    }
    std::vector<uint8_t> block = TakeHandle(handle);
    EXPECT_EQ(block.size() % sizeof(ArchiveEntryRecord), 0u);
    size_t count = block.size() / sizeof(ArchiveEntryRecord);
    EXPECT_GE(count, 1u);
    if (count == 0) return listing;
    listing.records.resize(count - 1);
    if (count > 1) std::memcpy(listing.records.data(), block.data(), block.size() - sizeof(ArchiveEntryRecord));
    for (size_t i = block.size() - sizeof(ArchiveEntryRecord); i < block.size(); ++i)
        EXPECT_EQ(block[i], 0) << "terminating record byte " << i;
    return listing;
}

inline void ExpectListing(const Listing& listing, const std::vector<ArchiveEntryRecord>& expected) {
    ASSERT_EQ(listing.result, Ok);
    ASSERT_EQ(listing.records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(SameRecord(listing.records[i], expected[i]))
            << "record " << i << " (" << expected[i].fileName << ")";
}

// GetFileInfo over a record full of filler that must survive a failure.
inline int32_t CallGetFileInfo(const std::string& path, const char* name, uint32_t flags,
                               ArchiveEntryRecord* record) {
    std::memset(record, 0xAB, sizeof *record);
    int32_t result = GetFileInfo(path.c_str(), 0, name, flags, record);
    if (result != Ok) {
        ArchiveEntryRecord filler;
        std::memset(&filler, 0xAB, sizeof filler);
        EXPECT_TRUE(SameRecord(*record, filler)) << "record written on failure";
    }
    return result;
}

struct Delivery {
    int32_t result;
    std::vector<uint8_t> bytes;
};

inline Delivery CallGetFile(const std::string& path, uint32_t position, ProgressCallback progress = nullptr,
                            intptr_t userData = 0, uint32_t flags = DestInMemory) {
    HGLOBAL handle = SlotSentinel();
    Delivery delivery{GetFile(path.c_str(), position, &handle, flags, progress, userData), {}};
    if (delivery.result == Ok)
        delivery.bytes = TakeHandle(handle);
    else
        EXPECT_EQ(handle, SlotSentinel()) << "slot written on failure";
    return delivery;
}

// Directory loads are the only opens without a probe or an extraction;
// tests count opens to see whether the cache answered.
inline long OpensDuring(void (*call)(const std::string&), const std::string& path) {
    platform_testing::ResetFaults();
    call(path);
    return platform_testing::CallsMade(platform_testing::Call::Open);
}

// The cache lock is recursive, so only another thread can tell that it
// was left held.
inline bool CacheLockIsFree() {
    bool free = false;
    std::thread probe([&] {
        free = pthread_mutex_trylock(&directoryCache.cacheLock.mutex) == 0;
        if (free) pthread_mutex_unlock(&directoryCache.cacheLock.mutex);
    });
    probe.join();
    return free;
}
