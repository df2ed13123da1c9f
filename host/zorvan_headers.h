// The few header fields the host reads itself, for figures the exports do
// not give (signatures, packed and unpacked sizes) and to tell an archive
// entry's kind. Every read is bounded by the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace host {

// The 10-byte header of a packed picture: "B1" or "E1", then the packed
// and unpacked lengths.
struct PackedPictureHeader {
    std::string signature;
    uint32_t packedLength = 0;
    uint32_t unpackedLength = 0;
};
constexpr size_t kPackedPictureHeaderSize = 10;
std::optional<PackedPictureHeader> ReadPackedPictureHeader(const uint8_t* bytes, size_t size);

// The 16-byte archive header: "ZRV00", "ZRV01" or "ZRV03" with 0x1A 0x00,
// the entry count and the directory offset.
struct ArchiveHeader {
    std::string signature;
    uint16_t entryCount = 0;
    uint32_t directoryOffset = 0;
};
constexpr size_t kArchiveHeaderSize = 16;
std::optional<ArchiveHeader> ReadArchiveHeader(const uint8_t* bytes, size_t size);

// Coded audio: an entry whose first 46 bytes carry the four tags of its
// WAVE-like header and which holds all the codes it announces. The size
// of the WAVE image it is delivered as, or nothing for any other entry.
// `head` holds the entry's first min(46, storedSize) bytes.
constexpr size_t kCodedAudioHeaderSize = 46;
std::optional<uint32_t> CodedAudioWaveSize(const uint8_t* head, size_t headSize, uint32_t storedSize);

}  // namespace host
