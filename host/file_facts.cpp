#include "file_facts.h"

#include <cstdint>

#include "tool_error.h"

namespace host {
namespace {

const char* CompressionName(uint32_t compression) {
    switch (compression) {
        case 0: return "none";
        case 1: return "rle8";
        case 2: return "rle4";
        case 3: return "bitfields";
        default: return "other";
    }
}

}  // namespace

nlohmann::json PictureFacts(const PackedPictureHeader& header, ByteSpan info) {
    if (info.size < 40) throw files::ToolError("the plug-in delivered a short info header");
    const auto width = static_cast<int32_t>(ReadLe32(info.data + 4));
    const auto height = static_cast<int32_t>(ReadLe32(info.data + 8));
    return {{"type", "picture"},
            {"signature", header.signature},
            {"width", width},
            {"height", height < 0 ? -static_cast<int64_t>(height) : height},
            {"top_down", height < 0},
            {"bit_count", ReadLe16(info.data + 14)},
            {"compression", CompressionName(ReadLe32(info.data + 16))},
            {"packed_size", header.packedLength},
            {"unpacked_size", header.unpackedLength}};
}

nlohmann::json ArchiveFacts(const ArchiveContents& contents) {
    return {{"type", "archive"},
            {"signature", contents.signature},
            {"entries", contents.entries.size()},
            {"audio_entries", contents.Count(EntryKind::Audio)},
            {"picture_entries", contents.Count(EntryKind::Picture)},
            {"stored_total", contents.StoredTotal()},
            {"delivered_total", contents.DeliveredTotal()}};
}

}  // namespace host
