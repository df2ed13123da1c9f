// Opening a ZrvArchive and checking its header; the layout itself is in
// zorvan_format.h.
#pragma once

#include <cstdint>

#include "plugin_frame.h"
#include "zorvan_format.h"

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
