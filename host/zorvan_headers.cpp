#include "zorvan_headers.h"

#include <cstring>

#include "byte_order.h"

namespace host {
namespace {

bool TagAt(const uint8_t* head, size_t offset, const char* tag) {
    return std::memcmp(head + offset, tag, 4) == 0;
}

}  // namespace

std::optional<PackedPictureHeader> ReadPackedPictureHeader(const uint8_t* bytes, size_t size) {
    if (size < kPackedPictureHeaderSize || (bytes[0] != 'B' && bytes[0] != 'E') || bytes[1] != '1')
        return std::nullopt;
    PackedPictureHeader header;
    header.signature.assign(reinterpret_cast<const char*>(bytes), 2);
    header.packedLength = ReadLe32(bytes + 2);
    header.unpackedLength = ReadLe32(bytes + 6);
    if (header.packedLength == 0 || header.unpackedLength == 0) return std::nullopt;
    return header;
}

std::optional<ArchiveHeader> ReadArchiveHeader(const uint8_t* bytes, size_t size) {
    if (size < kArchiveHeaderSize || std::memcmp(bytes, "ZRV0", 4) != 0 ||
        (bytes[4] != '0' && bytes[4] != '1' && bytes[4] != '3') || bytes[5] != 0x1A || bytes[6] != 0)
        return std::nullopt;
    ArchiveHeader header;
    header.signature.assign(reinterpret_cast<const char*>(bytes), 5);
    header.entryCount = ReadLe16(bytes + 8);
    header.directoryOffset = ReadLe32(bytes + 10);
    return header;
}

std::optional<uint32_t> CodedAudioWaveSize(const uint8_t* head, size_t headSize, uint32_t storedSize) {
    if (storedSize < kCodedAudioHeaderSize || headSize < kCodedAudioHeaderSize) return std::nullopt;
    if (!TagAt(head, 0, "PW10") || !TagAt(head, 8, "PCM1") || !TagAt(head, 12, "fmt ") ||
        !TagAt(head, 38, "data"))
        return std::nullopt;
    uint32_t codes = ReadLe32(head + 42);
    if (codes > storedSize - kCodedAudioHeaderSize || codes > (0xFFFFFFFFu - kCodedAudioHeaderSize) / 2)
        return std::nullopt;
    return static_cast<uint32_t>(kCodedAudioHeaderSize + 2 * codes);
}

}  // namespace host
