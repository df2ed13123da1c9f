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

}  // namespace host
