// The few header fields the host reads itself, for figures the exports do
// not give (signatures, packed and unpacked sizes) and to tell an archive
// entry's kind, by the formats' facts the plug-ins go by. Every read is
// bounded by the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "zorvan_format.h"

namespace host {

// The 10-byte header of a packed picture: "B1" or "E1", then the packed
// and unpacked lengths.
struct PackedPictureHeader {
    std::string signature;
    uint32_t packedLength = 0;
    uint32_t unpackedLength = 0;
};
std::optional<PackedPictureHeader> ReadPackedPictureHeader(const uint8_t* bytes, size_t size);

// The 16-byte archive header: "ZRV00", "ZRV01" or "ZRV03" with 0x1A 0x00,
// the entry count and the directory offset.
struct ArchiveHeader {
    std::string signature;
    uint16_t entryCount = 0;
    uint32_t directoryOffset = 0;
};
std::optional<ArchiveHeader> ReadArchiveHeader(const uint8_t* bytes, size_t size);

}  // namespace host
