#include "plain_bitmap.h"

#include <climits>
#include <string>

#include "bitmap_file.h"
#include "byte_order.h"
#include "tool_error.h"

namespace writer {

namespace {

bool IsDeliverable(uint16_t bits, uint32_t compression) {
    switch (compression) {
    case 0:
        return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case 1:
        return bits == 8;  // RLE8
    case 2:
        return bits == 4;  // RLE4
    case 3:
        return bits == 16 || bits == 32;  // bit-field masks
    default:
        return false;
    }
}

// Where the pixels start: directly behind the colour table or masks, as
// the picture plug-in takes them. files::ToolError when the file says otherwise.
uint64_t CheckPixelsOffset(const uint8_t* data, size_t size, uint16_t bits, uint32_t compression,
                           uint32_t colorsUsed) {
    uint64_t infoPart = kInfoHeaderBytes;
    if (bits <= 8) {
        if (colorsUsed > (1u << bits))
            throw files::ToolError("its colour table has " + std::to_string(colorsUsed) + " entries, more than a " +
                                   std::to_string(bits) + "-bit picture uses");
        infoPart += 4 * uint64_t{colorsUsed != 0 ? colorsUsed : 1u << bits};
    } else if (compression == 3) {
        infoPart += 12;
    }
    const uint64_t pixelsAt = kFileHeaderBytes + infoPart;
    if (pixelsAt >= size) throw files::ToolError("its colour table or masks leave no room for pixels");
    if (ReadLe32(data + 10) != pixelsAt)
        throw files::ToolError("its pixels start at offset " + std::to_string(ReadLe32(data + 10)) +
                               ", but the picture plug-in takes them from directly behind the colour table, at " +
                               std::to_string(pixelsAt));
    return pixelsAt;
}

}  // namespace

bool LooksLikePlainBitmap(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

uint16_t CheckPlainBitmap(const uint8_t* data, size_t size) {
    if (!LooksLikePlainBitmap(data, size)) throw files::ToolError("not a bitmap file (no 'BM' at its start)");
    if (size < kFileHeaderBytes + kInfoHeaderBytes)
        throw files::ToolError("too short for a bitmap file: " + std::to_string(size) + " bytes");
    if (Reaches4GiB(size)) throw files::ToolError("a bitmap file of 4 GiB or more cannot be packed");
    const uint8_t* info = data + kFileHeaderBytes;
    if (ReadLe32(info) != kInfoHeaderBytes)
        throw files::ToolError("its info header is " + std::to_string(ReadLe32(info)) +
                               " bytes; only the 40-byte kind is delivered as it is meant "
                               "(save it as a Windows 3 bitmap, or as PNG)");
    const int32_t width = static_cast<int32_t>(ReadLe32(info + 4));
    const int32_t height = static_cast<int32_t>(ReadLe32(info + 8));
    const uint16_t bits = ReadLe16(info + 14);
    const uint32_t compression = ReadLe32(info + 16);
    const uint32_t colorsUsed = ReadLe32(info + 32);
    if (width <= 0 || height == 0 || height == INT32_MIN)
        throw files::ToolError("its size " + std::to_string(width) + "x" + std::to_string(height) +
                               " is not a picture's");
    if (!IsDeliverable(bits, compression))
        throw files::ToolError(std::to_string(bits) + "-bit pictures with compression " + std::to_string(compression) +
                               " are not ones the picture plug-in delivers");
    const bool compressed = compression == 1 || compression == 2;
    if (compressed && height < 0) throw files::ToolError("a compressed bitmap cannot be stored top-down");

    const uint64_t pixelsAt = CheckPixelsOffset(data, size, bits, compression, colorsUsed);
    if (!compressed) {
        const uint64_t rows = RowStride(static_cast<uint64_t>(width), bits) *
                              static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
        if (size - pixelsAt < rows)
            throw files::ToolError("its pixel rows need " + std::to_string(rows) + " bytes, the file holds " +
                                   std::to_string(size - pixelsAt));
    }
    return bits;
}

}  // namespace writer
