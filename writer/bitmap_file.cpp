#include "bitmap_file.h"

#include <algorithm>
#include <string>

#include "byte_order.h"
#include "tool_error.h"

namespace writer {

namespace {

std::vector<uint8_t> BitmapHeaders(const Picture& picture, uint16_t bits, uint32_t paletteEntries) {
    const uint64_t stride = RowStride(picture.width, bits);
    const uint64_t offBits = kFileHeaderBytes + kInfoHeaderBytes + 4 * uint64_t{paletteEntries};
    const uint64_t fileSize = offBits + stride * picture.height;
    if (fileSize > kLargestBitmap)
        throw files::ToolError("the bitmap would take " + std::to_string(fileSize) + " bytes, more than the " +
                               std::to_string(kLargestBitmap) + " a picture may take");
    std::vector<uint8_t> file(static_cast<size_t>(fileSize));
    uint8_t* p = file.data();
    p[0] = 'B';
    p[1] = 'M';
    WriteLe32(p + 2, static_cast<uint32_t>(fileSize));
    WriteLe32(p + 10, static_cast<uint32_t>(offBits));
    uint8_t* info = p + kFileHeaderBytes;
    WriteLe32(info, kInfoHeaderBytes);
    WriteLe32(info + 4, picture.width);
    WriteLe32(info + 8, picture.height);  // positive: bottom-up rows
    WriteLe16(info + 12, 1);
    WriteLe16(info + 14, bits);
    WriteLe32(info + 20, static_cast<uint32_t>(stride * picture.height));
    WriteLe32(info + 32, paletteEntries);
    return file;
}

}  // namespace

std::vector<uint8_t> PaletteBitmap(const Picture& picture, uint16_t bits) {
    const uint32_t entries = static_cast<uint32_t>(std::min<size_t>(picture.palette.size(), size_t{1} << bits));
    std::vector<uint8_t> file = BitmapHeaders(picture, bits, entries);
    uint8_t* table = file.data() + kFileHeaderBytes + kInfoHeaderBytes;
    for (uint32_t i = 0; i < entries; ++i) {
        table[4 * i] = picture.palette[i].b;
        table[4 * i + 1] = picture.palette[i].g;
        table[4 * i + 2] = picture.palette[i].r;
    }
    const size_t stride = static_cast<size_t>(RowStride(picture.width, bits));
    uint8_t* pixels = table + 4 * size_t{entries};
    for (uint32_t y = 0; y < picture.height; ++y) {
        const uint8_t* in = picture.indices.data() + size_t{picture.width} * (picture.height - 1 - y);
        uint8_t* out = pixels + stride * y;
        for (uint32_t x = 0; x < picture.width; ++x) {
            size_t bit = size_t{x} * bits;
            out[bit / 8] |= static_cast<uint8_t>(in[x] << (8 - bits - bit % 8));
        }
    }
    return file;
}

std::vector<uint8_t> DirectBitmap(const Picture& picture, uint16_t bits) {
    std::vector<uint8_t> file = BitmapHeaders(picture, bits, 0);
    const size_t stride = static_cast<size_t>(RowStride(picture.width, bits));
    const size_t bytesPerPixel = bits / 8;
    uint8_t* pixels = file.data() + kFileHeaderBytes + kInfoHeaderBytes;
    for (uint32_t y = 0; y < picture.height; ++y) {
        const Rgba* in = picture.pixels.data() + size_t{picture.width} * (picture.height - 1 - y);
        uint8_t* out = pixels + stride * y;
        for (uint32_t x = 0; x < picture.width; ++x, out += bytesPerPixel) {
            out[0] = in[x].b;
            out[1] = in[x].g;
            out[2] = in[x].r;
            if (bytesPerPixel == 4) out[3] = in[x].a;
        }
    }
    return file;
}

}  // namespace writer
