#include "zorvan_headers.h"

namespace host {

std::optional<PackedPictureHeader> ReadPackedPictureHeader(const uint8_t* bytes, size_t size) {
    if (size < kPackedHeaderSize || !IsPackedPictureHeader(bytes)) return std::nullopt;
    PackedPictureHeader header;
    header.signature.assign(reinterpret_cast<const char*>(bytes), 2);
    header.packedLength = ReadLe32(bytes + 2);
    header.unpackedLength = ReadLe32(bytes + 6);
    return header;
}

std::optional<ArchiveHeader> ReadArchiveHeader(const uint8_t* bytes, size_t size) {
    if (size < kArchiveHeaderSize || !IsArchiveSignature(bytes)) return std::nullopt;
    ArchiveHeader header;
    header.signature.assign(reinterpret_cast<const char*>(bytes), 5);
    header.entryCount = ReadLe16(bytes + kEntryCountField);
    header.directoryOffset = ReadLe32(bytes + kDirectoryOffsetField);
    return header;
}

std::optional<uint32_t> CodedAudioWaveSize(const uint8_t* head, size_t headSize, uint32_t storedSize) {
    if (headSize < kPwHeaderSize || !IsDeliveredAsWave(head, storedSize)) return std::nullopt;
    return kPwHeaderSize + 2 * PwCodeCount(head);
}

}  // namespace host
