// The frame both plug-ins share: result codes, input flags, the records and
// callback that cross to the host, memory blocks handed to the host, and the
// clean-up and lock helpers every operation uses; file reading is in
// file_reading.h, little-endian fields in byte_order.h. Each module compiles its own copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "byte_order.h"
#include "file_reading.h"
#include "platform.h"

enum PluginResult : int32_t {
    Ok = 0,
    Aborted = 1,
    UnsupportedFormat = 2,
    NoMemory = 4,
    ReadError = 6,
    NotImplemented = -1,
};

// Bits of the `flags` argument; all others are ignored.
enum InputSource : uint32_t {
    SourceInMemory = 0x1,
    IgnoreCase = 0x80,
    DestInMemory = 0x100,
};

#pragma pack(push, 1)
struct PictureInfoRecord {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    uint16_t densityX;
    uint16_t densityY;
    uint16_t colorDepth;
    uint32_t textHandle;  // a 32-bit handle in the host's record; always 0
};

struct ArchiveEntryRecord {
    char method[8];  // "ZorvPack", no terminator
    uint32_t position;
    uint32_t packedSize;
    uint32_t outputSize;
    uint32_t timestamp;
    char path[200];
    char fileName[200];
    uint32_t crc;
};
#pragma pack(pop)

static_assert(sizeof(PictureInfoRecord) == 26, "host record layout");
static_assert(offsetof(PictureInfoRecord, width) == 8, "host record layout");
static_assert(offsetof(PictureInfoRecord, height) == 12, "host record layout");
static_assert(offsetof(PictureInfoRecord, densityX) == 16, "host record layout");
static_assert(offsetof(PictureInfoRecord, colorDepth) == 20, "host record layout");
static_assert(offsetof(PictureInfoRecord, textHandle) == 22, "host record layout");
static_assert(sizeof(ArchiveEntryRecord) == 428, "host record layout");
static_assert(offsetof(ArchiveEntryRecord, position) == 8, "host record layout");
static_assert(offsetof(ArchiveEntryRecord, packedSize) == 12, "host record layout");
static_assert(offsetof(ArchiveEntryRecord, outputSize) == 16, "host record layout");
static_assert(offsetof(ArchiveEntryRecord, timestamp) == 20, "host record layout");
static_assert(offsetof(ArchiveEntryRecord, path) == 24, "host record layout");
static_assert(offsetof(ArchiveEntryRecord, fileName) == 224, "host record layout");
static_assert(offsetof(ArchiveEntryRecord, crc) == 424, "host record layout");

// The host's progress function; nonzero asks the operation to stop.
// userData is the host's own value, handed back unchanged.
typedef int32_t(WINAPI* ProgressCallback)(int32_t step, int32_t total, intptr_t userData);

// The four info strings of a module: version, description, pattern, type name.
typedef const char* const InfoStringTable[4];

// GetPluginInfo's copy rule: the string cut to fit and always terminated;
// returns the characters placed before the terminator. Writes nothing for an
// index outside 0..3 or a buffer length of 0.
int32_t CopyInfoString(const InfoStringTable& table, int32_t infoIndex, char* buffer,
                       int32_t bufferLength);

// Fixed global blocks for working data; FreeScratch accepts null.
void* AllocScratch(uint32_t size);
void FreeScratch(void* block);

// A movable block of `size` bytes (GMEM_MOVEABLE plus `extraFlags`), locked
// for filling. Null when the allocation or the lock fails; *handle holds the
// block as soon as it exists, so the caller's clean-up finishes it either way.
// A block of 0 bytes cannot be locked, so it fails here.
void* AllocAndLock(uint32_t size, UINT extraFlags, HGLOBAL* handle);

// Unlocks a movable handle down to lock count 0, then stores it in the
// host's slot on success or frees it. A null handle writes nothing.
void HandOverHandle(HGLOBAL handle, bool succeeded, HGLOBAL* slot);

// The single scope-bound clean-up of an operation: runs on every way out.
template <class Fn>
class ScopeCleanup {
public:
    explicit ScopeCleanup(Fn fn) : fn_(std::move(fn)) {}
    ~ScopeCleanup() { fn_(); }
    ScopeCleanup(const ScopeCleanup&) = delete;
    ScopeCleanup& operator=(const ScopeCleanup&) = delete;

private:
    Fn fn_;
};

template <class Fn>
ScopeCleanup<Fn> OnScopeExit(Fn fn) {
    return ScopeCleanup<Fn>(std::move(fn));
}

// Holds a critical section until the end of the scope. Declared after the
// operation's clean-up, it is released first, as the clean-up order asks.
class SectionLock {
public:
    explicit SectionLock(CRITICAL_SECTION* section) : section_(section) {
        EnterCriticalSection(section_);
    }
    ~SectionLock() { LeaveCriticalSection(section_); }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;

private:
    CRITICAL_SECTION* section_;
};

// Each module defines what it does at process attach and detach.
void ModuleAttach();
void ModuleDetach();
