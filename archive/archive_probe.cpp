#include "archive_probe.h"

PluginResult CheckArchiveHeader(HANDLE file, ArchiveLayout* layout) {
    uint64_t fileSize = 0;
    uint8_t header[kArchiveHeaderSize];
    if (!QueryFileSize(file, &fileSize) || !ReadExactly(file, header, sizeof header))
        return ReadError;
    if (!IsArchiveSignature(header)) return UnsupportedFormat;
    uint32_t count = ReadLe16(header + kEntryCountField);
    uint32_t directoryOffset = ReadLe32(header + kDirectoryOffsetField);
    // 64-bit sum: an offset near 2^32 must not wrap to a small value.
    if (directoryOffset + static_cast<uint64_t>(count) * kDirectoryEntrySize > fileSize)
        return UnsupportedFormat;
    *layout = ArchiveLayout{count, directoryOffset, fileSize};
    return Ok;
}

PluginResult ProbeArchive(const char* path, uint32_t* entryCount) {
    PluginResult result = ReadError;
    HANDLE file = INVALID_HANDLE_VALUE;
    auto cleanup = OnScopeExit([&] { CloseIfOpen(file); });

    file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) return result;
    ArchiveLayout layout;
    result = CheckArchiveHeader(file, &layout);
    if (result == Ok && entryCount != nullptr) *entryCount = layout.entryCount;
    return result;
}
