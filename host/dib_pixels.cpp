#include "dib_pixels.h"

#include <algorithm>
#include <string>

#include "byte_order.h"

namespace host {
namespace {

constexpr uint32_t kPlain = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kMasksEnd = kInfoHeaderSize + 12;

// Marks a palette pixel that nothing drew; it becomes black at the end.
constexpr uint16_t kUndrawn = 0xFFFF;

enum class Kind { Palette, Rle8, Rle4, Masked, Bgr24 };

struct Header {
    uint32_t width = 0;
    uint32_t height = 0;  // rows, whichever way they are stored
    bool topDown = false;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    Kind kind = Kind::Palette;
    uint64_t stride = 0;  // bytes a stored row, padded to 4

    // Stored rows run bottom-up unless the height was negative.
    size_t OutputRow(uint32_t storedRow) const { return topDown ? storedRow : height - 1 - storedRow; }
};

Kind KindOf(uint16_t bitCount, uint32_t compression) {
    switch (bitCount) {
        case 1: case 4: case 8:
            if (compression == kPlain) return Kind::Palette;
            if (compression == kRle8 && bitCount == 8) return Kind::Rle8;
            if (compression == kRle4 && bitCount == 4) return Kind::Rle4;
            break;
        case 16: case 32:
            if (compression == kPlain || compression == kBitFields) return Kind::Masked;
            break;
        case 24:
            if (compression == kPlain) return Kind::Bgr24;
            break;
    }
    throw files::ToolError(std::to_string(bitCount) + "-bit pictures with compression " +
                           std::to_string(compression) + " cannot be drawn");
}

Header ReadHeader(const uint8_t* info, size_t infoSize, uint64_t maxPixels) {
    if (info == nullptr || infoSize < kInfoHeaderSize)
        throw files::ToolError("the info part is shorter than its 40-byte header");
    Header h;
    const auto width = static_cast<int32_t>(ReadLe32(info + 4));
    const auto height = static_cast<int32_t>(ReadLe32(info + 8));
    h.bitCount = ReadLe16(info + 14);
    h.compression = ReadLe32(info + 16);
    h.colorsUsed = ReadLe32(info + 32);
    if (width <= 0 || height == 0)
        throw files::ToolError("a picture " + std::to_string(width) + " wide and " + std::to_string(height) +
                               " high has no pixels to draw");
    h.width = static_cast<uint32_t>(width);
    h.topDown = height < 0;
    h.height = h.topDown ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
    h.kind = KindOf(h.bitCount, h.compression);
    const uint64_t pixels = uint64_t(h.width) * h.height;
    if (pixels > maxPixels)
        throw files::ToolError("the picture is too large: " + std::to_string(h.width) + " x " +
                               std::to_string(h.height) + " is more than " + std::to_string(maxPixels) +
                               " pixels");
    if (h.topDown && (h.kind == Kind::Rle8 || h.kind == Kind::Rle4))
        throw files::ToolError("an RLE picture cannot be stored top-down");
    h.stride = (uint64_t(h.width) * h.bitCount + 31) / 32 * 4;
    return h;
}

// The colours a palette picture can reach: biClrUsed entries (0: all), but
// no more than its indices can address.
std::vector<Rgb> ReadColourTable(const Header& h, const uint8_t* info, size_t infoSize) {
    const uint32_t reachable = 1u << h.bitCount;
    const uint32_t entries = h.colorsUsed == 0 ? reachable : std::min(h.colorsUsed, reachable);
    if (infoSize < kInfoHeaderSize + size_t(entries) * 4)
        throw files::ToolError("the info part is too short for a colour table of " +
                               std::to_string(entries) + " entries");
    std::vector<Rgb> table(entries);
    const uint8_t* quad = info + kInfoHeaderSize;
    for (Rgb& colour : table) {
        colour = Rgb{quad[2], quad[1], quad[0]};
        quad += 4;
    }
    return table;
}

// One colour of a 16- or 32-bit pixel: the lowest run of set bits of its
// mask, scaled to 8 bits.
struct Channel {
    uint32_t shift = 0;
    uint32_t width = 0;

    static Channel FromMask(uint32_t mask) {
        Channel c;
        if (mask == 0) return c;
        while ((mask >> c.shift & 1) == 0) ++c.shift;
        while (c.shift + c.width < 32 && (mask >> (c.shift + c.width) & 1) != 0) ++c.width;
        return c;
    }

    uint8_t Value(uint32_t pixel) const {
        if (width == 0) return 0;
        uint32_t field = pixel >> shift;
        if (width < 32) field &= (1u << width) - 1;
        if (width >= 8) return static_cast<uint8_t>(field >> (width - 8));
        // Repeating the bits maps all ones to 255 and zero to 0.
        uint32_t wide = field, filled = width;
        while (filled < 8) {
            wide = wide << width | field;
            filled += width;
        }
        return static_cast<uint8_t>(wide >> (filled - 8));
    }
};

struct Channels {
    Channel red, green, blue;
};

Channels ReadChannels(const Header& h, const uint8_t* info, size_t infoSize) {
    if (h.compression == kBitFields) {
        if (infoSize < kMasksEnd) throw files::ToolError("the info part is too short for its three bit-field masks");
        return {Channel::FromMask(ReadLe32(info + 40)), Channel::FromMask(ReadLe32(info + 44)),
                Channel::FromMask(ReadLe32(info + 48))};
    }
    if (h.bitCount == 16) return {Channel::FromMask(0x7C00), Channel::FromMask(0x03E0), Channel::FromMask(0x001F)};
    return {Channel::FromMask(0xFF0000), Channel::FromMask(0xFF00), Channel::FromMask(0xFF)};
}

// How many pixels of stored row `row` have all their bits in the bits part,
// and where that row starts.
uint32_t PixelsPresent(const Header& h, uint32_t row, size_t bitsSize, size_t* start) {
    const uint64_t begin = uint64_t(row) * h.stride;
    if (begin >= bitsSize) return 0;
    *start = static_cast<size_t>(begin);
    const uint64_t bytes = std::min<uint64_t>(h.stride, bitsSize - begin);
    return static_cast<uint32_t>(std::min<uint64_t>(h.width, bytes * 8 / h.bitCount));
}

uint16_t IndexAt(const uint8_t* row, uint32_t x, uint16_t bitCount) {
    switch (bitCount) {
        case 1: return row[x >> 3] >> (7 - (x & 7)) & 1;
        case 4: return row[x >> 1] >> ((x & 1) ? 0 : 4) & 15;
        default: return row[x];
    }
}

void DrawIndexedRows(const Header& h, const uint8_t* bits, size_t bitsSize, std::vector<uint16_t>& out) {
    for (uint32_t s = 0; s < h.height; ++s) {
        size_t start = 0;
        const uint32_t present = PixelsPresent(h, s, bitsSize, &start);
        if (present == 0) break;
        uint16_t* dst = &out[h.OutputRow(s) * h.width];
        for (uint32_t x = 0; x < present; ++x) dst[x] = IndexAt(bits + start, x, h.bitCount);
    }
}

void DrawRgbRows(const Header& h, const Channels& channels, const uint8_t* bits, size_t bitsSize,
                 std::vector<uint8_t>& out) {
    for (uint32_t s = 0; s < h.height; ++s) {
        size_t start = 0;
        const uint32_t present = PixelsPresent(h, s, bitsSize, &start);
        if (present == 0) break;
        const uint8_t* src = bits + start;
        uint8_t* dst = &out[h.OutputRow(s) * h.width * 3];
        if (h.kind == Kind::Bgr24) {
            for (uint32_t x = 0; x < present; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
            continue;
        }
        const bool wide = h.bitCount == 32;
        for (uint32_t x = 0; x < present; ++x, dst += 3) {
            const uint32_t pixel = wide ? ReadLe32(src + 4 * x) : ReadLe16(src + 2 * x);
            dst[0] = channels.red.Value(pixel);
            dst[1] = channels.green.Value(pixel);
            dst[2] = channels.blue.Value(pixel);
        }
    }
}

// Runs an RLE8 or RLE4 stream (bottom-up rows). Returns false when the
// stream ended before its end-of-bitmap mark and before the last pixel.
bool DrawRle(const Header& h, const uint8_t* bits, size_t size, std::vector<uint16_t>& out,
             uint32_t* rowReached) {
    const bool fourBit = h.kind == Kind::Rle4;
    uint32_t x = 0, y = 0;
    size_t at = 0;
    // Pixels past the right edge are dropped: a row never wraps.
    auto put = [&](uint16_t index) {
        if (x < h.width) out[h.OutputRow(y) * h.width + x++] = index;
    };
    auto ranOut = [&] {
        *rowReached = y;
        return y + 1 >= h.height && x >= h.width;
    };
    for (;;) {
        if (size - at < 2) return ranOut();
        const uint8_t count = bits[at], value = bits[at + 1];
        at += 2;
        if (count != 0) {
            for (uint32_t i = 0; i < count; ++i) put(fourBit ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            if (++y >= h.height) return true;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // delta: right and up
            if (size - at < 2) return ranOut();
            x = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(x) + bits[at], h.width));
            y += bits[at + 1];
            at += 2;
            if (y >= h.height) return true;
        } else {  // absolute: `value` pixels, padded to a 16-bit word
            const size_t bytes = fourBit ? (value + 1u) / 2 : value;
            const size_t present = std::min(bytes, size - at);
            const uint8_t* src = bits + at;
            for (uint32_t i = 0; i < value; ++i) {
                const size_t byte = fourBit ? i / 2 : i;
                if (byte >= present) break;
                put(fourBit ? ((i & 1) ? src[byte] & 15 : src[byte] >> 4) : src[byte]);
            }
            if (present < bytes) return ranOut();
            at = std::min(size, at + bytes + (bytes & 1));
        }
    }
}

// Rows with room for PNG's filter byte before each, so that EncodePng turns
// them into PNG rows in place instead of in a second copy of the picture.
void SizeRows(Pixels& p, size_t bytes) {
    p.rows.reserve(bytes + p.height);
    p.rows.assign(bytes, 0);
}

Pixels RgbFromIndices(const Header& h, const std::vector<Rgb>& palette, const std::vector<uint16_t>& indices) {
    Pixels p;
    p.width = h.width;
    p.height = h.height;
    SizeRows(p, indices.size() * 3);
    uint8_t* dst = p.rows.data();
    for (uint16_t index : indices) {
        const Rgb c = index == kUndrawn ? Rgb{0, 0, 0} : palette[index];
        *dst++ = c.r;
        *dst++ = c.g;
        *dst++ = c.b;
    }
    return p;
}

// Indices past the table get black entries of their own; pixels never drawn
// take a black entry, added when the table has none. Only an 8-bit picture
// with 256 colours, none black, and undrawn pixels cannot stay indexed.
Pixels FinishIndexed(const Header& h, std::vector<Rgb> palette, const std::vector<uint16_t>& indices) {
    uint32_t highest = 0;
    bool undrawn = false;
    for (uint16_t index : indices) {
        if (index == kUndrawn) undrawn = true;
        else highest = std::max<uint32_t>(highest, index);
    }
    const Rgb black{0, 0, 0};
    if (palette.size() <= highest) palette.resize(highest + 1, black);
    uint16_t blackIndex = 0;
    if (undrawn) {
        auto isBlack = [](const Rgb& c) { return c.r == 0 && c.g == 0 && c.b == 0; };
        auto found = std::find_if(palette.begin(), palette.end(), isBlack);
        if (found == palette.end()) found = palette.insert(palette.end(), black);
        blackIndex = static_cast<uint16_t>(found - palette.begin());
    }
    if (palette.size() > 256) return RgbFromIndices(h, palette, indices);

    Pixels p;
    p.width = h.width;
    p.height = h.height;
    p.indexed = true;
    p.bitDepth = static_cast<uint8_t>(h.bitCount);
    while ((1u << p.bitDepth) < palette.size()) p.bitDepth *= 2;
    p.palette = std::move(palette);
    SizeRows(p, indices.size());
    std::transform(indices.begin(), indices.end(), p.rows.begin(),
                   [&](uint16_t index) { return static_cast<uint8_t>(index == kUndrawn ? blackIndex : index); });
    return p;
}

Pixels RenderRgb(const Header& h, const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize) {
    const Channels channels = ReadChannels(h, info, infoSize);
    Pixels p;
    p.width = h.width;
    p.height = h.height;
    SizeRows(p, size_t(h.width) * h.height * 3);
    DrawRgbRows(h, channels, bits, bitsSize, p.rows);
    return p;
}

Pixels RenderPalette(const Header& h, const uint8_t* info, size_t infoSize, const uint8_t* bits,
                     size_t bitsSize) {
    std::vector<Rgb> table = ReadColourTable(h, info, infoSize);
    std::vector<uint16_t> indices(size_t(h.width) * h.height, kUndrawn);
    DrawIndexedRows(h, bits, bitsSize, indices);
    return FinishIndexed(h, std::move(table), indices);
}

Rendering RenderRle(const Header& h, const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize) {
    std::vector<Rgb> table = ReadColourTable(h, info, infoSize);
    std::vector<uint16_t> indices(size_t(h.width) * h.height, kUndrawn);
    Rendering r;
    uint32_t rowReached = 0;
    if (!DrawRle(h, bits, bitsSize, indices, &rowReached)) {
        r.complete = false;
        r.warnings.push_back("the RLE data ends without its end mark in row " + std::to_string(rowReached + 1) +
                             " of " + std::to_string(h.height) + " (counted from the bottom); the rest is black");
    }
    r.pixels = FinishIndexed(h, std::move(table), indices);
    return r;
}

}  // namespace

Rendering RenderDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                    uint64_t maxPixels) {
    const Header h = ReadHeader(info, infoSize, maxPixels);
    if (bits == nullptr) bitsSize = 0;
    if (h.kind == Kind::Rle8 || h.kind == Kind::Rle4) return RenderRle(h, info, infoSize, bits, bitsSize);

    Rendering r;
    r.pixels = h.kind == Kind::Palette ? RenderPalette(h, info, infoSize, bits, bitsSize)
                                       : RenderRgb(h, info, infoSize, bits, bitsSize);
    // The last row's padding may be missing: no pixel needs it.
    const uint64_t needed = h.stride * (h.height - 1) + (uint64_t(h.width) * h.bitCount + 7) / 8;
    if (bitsSize < needed) {
        r.complete = false;
        r.warnings.push_back("the pixel data ends after " + std::to_string(bitsSize) + " of the " +
                             std::to_string(needed) + " bytes the picture needs; the rest is black");
    }
    return r;
}

}  // namespace host
