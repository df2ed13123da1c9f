// The ZrvArchive container: a 16-byte header, entry data stored back to back
// from offset 16 in directory order, and a directory of 16-byte entries
// (12-byte name, u32 size) wherever the header says.
#pragma once

#include <cstdint>

#include "plugin_frame.h"

constexpr uint32_t kArchiveHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 16;
constexpr uint32_t kEntryNameLength = 12;
constexpr uint32_t kFirstEntryPosition = 16;

// What the header tells, and the size of the file it was read from.
struct ArchiveLayout {
    uint32_t entryCount;
    uint32_t directoryOffset;
    uint64_t fileSize;
};

// Checks the archive header of a file just opened (read position 0).
// ReadError: size unknown or fewer than 16 bytes; UnsupportedFormat: no
// signature or the directory reaches past the end of the file.
PluginResult CheckArchiveHeader(HANDLE file, ArchiveLayout* layout);

// Opens the file by name and checks its header; stores the entry count
// (when asked) only on Ok. Takes no lock and touches no cached state.
PluginResult ProbeArchive(const char* path, uint32_t* entryCount);
