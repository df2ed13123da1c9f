// The exports of ZorvPack: what the host calls.
#include <cstring>

#include "archive_probe.h"
#include "archive_version.h"
#include "directory_cache.h"
#include "extract_entry.h"
#include "plugin_frame.h"

namespace {

const InfoStringTable kInfoStrings = {"00AM", ZORVPACK_DESCRIPTION, "*.dat", "ZORVAN DAT Archive"};

// A missing path names no file rather than crashing the host.
const char* PathOrEmpty(const char* path) { return path != nullptr ? path : ""; }

}  // namespace

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, char* buffer, int32_t bufferLength) {
    return CopyInfoString(kInfoStrings, infoIndex, buffer, bufferLength);
}

// The probe word is never looked at: archives are always probed by path.
PLUGIN_EXPORT int32_t WINAPI IsSupported(const char* path, uintptr_t /*probeWord*/) {
    return ProbeArchive(PathOrEmpty(path), nullptr) == Ok ? 1 : 0;
}

PLUGIN_EXPORT int32_t WINAPI GetArchiveInfo(const char* source, int32_t /*length*/, uint32_t flags,
                                            HGLOBAL* listHandleOut) {
    if ((flags & SourceInMemory) != 0 || listHandleOut == nullptr) return NotImplemented;
    source = PathOrEmpty(source);
    // Unlocked, so that a file that is no archive never waits for the cache.
    if (ProbeArchive(source, nullptr) != Ok) return UnsupportedFormat;

    PluginResult result = NotImplemented;
    HGLOBAL listing = nullptr;
    auto cleanup = OnScopeExit([&] { HandOverHandle(listing, result == Ok, listHandleOut); });
    SectionLock lock(&directoryCache.cacheLock);

    result = EnsureCached(source);
    if (result != Ok) return result;

    // The records and one all-zero record that ends the list.
    result = NoMemory;
    const uint32_t count = directoryCache.recordCount;
    auto* records = static_cast<ArchiveEntryRecord*>(
        AllocAndLock((count + 1) * sizeof(ArchiveEntryRecord), GMEM_ZEROINIT, &listing));
    if (records == nullptr) return result;
    for (uint32_t i = 0; i < count; ++i) FillRecord(directoryCache.entries[i], &records[i]);
    result = Ok;
    return result;
}

PLUGIN_EXPORT int32_t WINAPI GetFileInfo(const char* source, int32_t /*length*/,
                                         const char* entryName, uint32_t flags,
                                         ArchiveEntryRecord* entryOut) {
    if ((flags & SourceInMemory) != 0 || entryOut == nullptr) return NotImplemented;
    source = PathOrEmpty(source);

    PluginResult result = NotImplemented;
    SectionLock lock(&directoryCache.cacheLock);
    result = EnsureCached(source);
    if (result != Ok) return result;
    result = UnsupportedFormat;
    const CachedEntry* found =
        entryName != nullptr ? FindByName(entryName, (flags & IgnoreCase) != 0) : nullptr;
    if (found == nullptr) return result;

    // The record is made while the lock still guards the cache, and written
    // to the host in one piece, only now that the call succeeds.
    ArchiveEntryRecord record;
    std::memset(&record, 0, sizeof record);
    FillRecord(*found, &record);
    std::memcpy(entryOut, &record, sizeof record);
    result = Ok;
    return result;
}

PLUGIN_EXPORT int32_t WINAPI GetFile(const char* source, uint32_t position, HGLOBAL* destination,
                                     uint32_t flags, ProgressCallback progress, intptr_t userData) {
    if ((flags & SourceInMemory) != 0 || (flags & DestInMemory) == 0 || destination == nullptr)
        return NotImplemented;
    HGLOBAL delivered = nullptr;
    PluginResult result = ExtractEntry(PathOrEmpty(source), position, &delivered, progress, userData);
    if (result == Ok) *destination = delivered;
    return result;
}
