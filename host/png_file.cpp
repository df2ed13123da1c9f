#include "png_file.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "plugin_module.h"
#include "png_filters.h"

namespace host {
namespace {

using Bytes = std::vector<uint8_t>;

// PNG's numbers are big-endian.
void WriteBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void CheckShape(const Pixels& p) {
    const uint64_t perRow = p.indexed ? p.width : uint64_t(p.width) * 3;
    if (p.width == 0 || p.height == 0 || p.width > 0x7FFFFFFFu || p.height > 0x7FFFFFFFu ||
        p.rows.size() != perRow * p.height)
        throw files::ToolError("pixel rows do not match the picture's size");
    // PNG's rows (a filter byte each) in one buffer of this address space.
    if ((perRow + 1) * p.height > uint64_t(PTRDIFF_MAX)) throw files::ToolError("the picture is too large for one PNG");
    if (!p.indexed) return;
    const uint8_t depth = p.bitDepth;
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8) || p.palette.empty() ||
        p.palette.size() > (1u << depth))
        throw files::ToolError("palette does not fit the bit depth");
}

// Turns rows of `inBytes` into PNG's rows (a filter type byte, then
// `outBytes`) in the same buffer, through `makeRow(y, into)`, which reads
// row y as it was and, for a truecolour picture, the row above as it was.
// Longer rows are written from the bottom up, shorter ones from the top
// down, so that no row is overwritten before it is read.
template <typename MakeRow>
void RewriteRowsInPlace(Bytes& rows, uint32_t height, size_t inBytes, size_t outBytes, MakeRow makeRow) {
    const size_t stride = outBytes + 1;
    if (stride > inBytes) {
        rows.resize(stride * height);
        for (uint32_t y = height; y-- > 0;) makeRow(y, &rows[y * stride]);
    } else {
        for (uint32_t y = 0; y < height; ++y) makeRow(y, &rows[y * stride]);
        rows.resize(stride * height);
    }
}

// Each row takes the allowed filter that leaves the smallest sum of
// magnitudes (the first on a tie), the rule that suits photographs and
// screen content alike; all five are weighed in one pass.
void FilterRgbRows(Bytes& rows, uint32_t width, uint32_t height, int choices) {
    const size_t rowBytes = size_t(width) * 3;
    // CheckShape has seen to it; said again so that a 32-bit compiler sees
    // every copy of a row bounded.
    if (rowBytes > size_t(PTRDIFF_MAX)) throw files::ToolError("the picture is too large for one PNG");
    // Zeros above the first row, then the four filtered candidates.
    Bytes scratch(rowBytes * 5, 0);
    const uint8_t* const zeros = scratch.data();
    uint8_t* const out[kPngFilterCount] = {nullptr, &scratch[rowBytes], &scratch[2 * rowBytes],
                                           &scratch[3 * rowBytes], &scratch[4 * rowBytes]};
    RewriteRowsInPlace(rows, height, rowBytes, rowBytes, [&](uint32_t y, uint8_t* into) {
        // From the bottom up, the row above is still as it was.
        const uint8_t* row = &rows[y * rowBytes];
        uint64_t sums[kPngFilterCount];
        FilterRgbRow(row, y > 0 ? row - rowBytes : zeros, rowBytes, out, sums);
        int best = -1;
        for (int f = 0; f < kPngFilterCount; ++f)
            if ((choices & (kPngFilterNone << f)) != 0 && (best < 0 || sums[f] < sums[best])) best = f;
        if (best < 0) best = 0;
        std::memmove(into + 1, best == 0 ? row : out[best], rowBytes);
        into[0] = static_cast<uint8_t>(best);
    });
}

// Indices packed at the bit depth, the leftmost pixel in the highest bits,
// never filtered: filters only blur palette indices, which are not
// magnitudes.
void PackIndexRows(Bytes& rows, uint32_t width, uint32_t height, unsigned depth) {
    const unsigned perByte = 8 / depth;
    const size_t rowBytes = (size_t(width) * depth + 7) / 8;
    Bytes packed(rowBytes);
    RewriteRowsInPlace(rows, height, width, rowBytes, [&](uint32_t y, uint8_t* into) {
        const uint8_t* src = &rows[size_t(y) * width];
        if (depth == 8) {
            std::memmove(into + 1, src, width);
        } else {
            std::fill(packed.begin(), packed.end(), 0);
            for (uint32_t x = 0; x < width; ++x) {
                const unsigned shift = 8 - depth * (x % perByte + 1);
                packed[x / perByte] |= static_cast<uint8_t>((src[x] & ((1u << depth) - 1)) << shift);
            }
            std::memcpy(into + 1, packed.data(), rowBytes);
        }
        into[0] = 0;
    });
}

using Compressor = std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>;

// A chunk's length and CRC are filled in by EndChunk once its data is there.
size_t BeginChunk(Bytes& png, const char type[4]) {
    const size_t start = png.size();
    png.resize(start + 8);
    std::memcpy(&png[start + 4], type, 4);
    return start;
}

void EndChunk(Bytes& png, size_t start) {
    const size_t length = png.size() - start - 8;
    WriteBe32(&png[start], static_cast<uint32_t>(length));
    const uint32_t crc = libdeflate_crc32(0, &png[start + 4], length + 4);
    png.resize(png.size() + 4);
    WriteBe32(&png[png.size() - 4], crc);
}

void AppendHeader(Bytes& png, const Pixels& p) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.insert(png.end(), kSignature, kSignature + 8);
    const size_t ihdr = BeginChunk(png, "IHDR");
    png.resize(png.size() + 13, 0);  // compression, filter method and interlacing: 0
    uint8_t* fields = &png[ihdr + 8];
    WriteBe32(fields, p.width);
    WriteBe32(fields + 4, p.height);
    fields[8] = p.indexed ? p.bitDepth : 8;
    fields[9] = p.indexed ? 3 : 2;  // palette or RGB
    EndChunk(png, ihdr);
    if (!p.indexed) return;
    const size_t plte = BeginChunk(png, "PLTE");
    for (const Rgb& c : p.palette) png.insert(png.end(), {c.r, c.g, c.b});
    EndChunk(png, plte);
}

// The filtered rows as a zlib stream of literals only (zlib's Huffman-only
// strategy): into `out` when given, else only counted. Returns its size, or
// 0 as soon as it is past `capacity` bytes.
size_t DeflateLiteralsOnly(const Bytes& filtered, uint8_t* out, size_t capacity) {
    z_stream stream = {};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15, 9, Z_HUFFMAN_ONLY) != Z_OK) throw std::bad_alloc();
    std::unique_ptr<z_stream, int (*)(z_stream*)> end(&stream, deflateEnd);
    uint8_t sink[1 << 16];
    size_t total = 0;
    const uint8_t* in = filtered.data();
    size_t left = filtered.size();
    for (;;) {
        // zlib counts in 32 bits: the input goes in by pieces.
        if (stream.avail_in == 0 && left > 0) {
            const size_t piece = std::min<size_t>(left, 1u << 30);
            stream.next_in = const_cast<uint8_t*>(in);
            stream.avail_in = static_cast<uInt>(piece);
            in += piece;
            left -= piece;
        }
        const size_t room = out ? std::min<size_t>(capacity - total, sizeof sink) : sizeof sink;
        if (room == 0) return 0;
        stream.next_out = out ? out + total : sink;
        stream.avail_out = static_cast<uInt>(room);
        const int result = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (result == Z_STREAM_ERROR) throw files::ToolError("PNG compression failed");
        total += room - stream.avail_out;
        if (total > capacity) return 0;
        if (result == Z_STREAM_END) return total;
    }
}

// The filtered rows go straight into one IDAT chunk, its size checked
// against the compressed bound before anything is allocated. libdeflate's
// matches win on screen content and drawn pictures; a photograph's
// filtered rows repeat too little for matches to pay, and there coding
// every byte as a literal is smaller than any of libdeflate's levels
// (bench/png_bench). Only where libdeflate leaves more than a third of the
// rows did literals ever win (photographs: nearly half), so only there are
// they counted, and written over libdeflate's stream when smaller.
void AppendImageData(Bytes& png, const Bytes& filtered, int level, bool tryLiterals) {
    Compressor compressor(libdeflate_alloc_compressor(level), libdeflate_free_compressor);
    if (!compressor) throw std::bad_alloc();
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filtered.size());
    // A chunk holds at most 2^31 - 1 bytes.
    constexpr uint64_t kMaxChunk = 0x7FFFFFFF;
    if (bound < filtered.size() || bound > kMaxChunk || bound > png.max_size() - png.size() - 64)
        throw files::ToolError("the picture is too large for one PNG");
    png.reserve(png.size() + 8 + bound + 4 + 12);  // with the CRC and the end chunk
    const size_t idat = BeginChunk(png, "IDAT");
    png.resize(idat + 8 + bound);
    uint8_t* const data = &png[idat + 8];
    size_t written = libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(), data, bound);
    if (written == 0) throw files::ToolError("PNG compression failed");
    if (tryLiterals && written > filtered.size() / 3) {
        const size_t literals = DeflateLiteralsOnly(filtered, nullptr, written - 1);
        if (literals > 0) written = DeflateLiteralsOnly(filtered, data, literals);
        if (written == 0) throw files::ToolError("PNG compression failed");
    }
    png.resize(idat + 8 + written);
    EndChunk(png, idat);
}

}  // namespace

std::vector<uint8_t> EncodePng(Pixels pixels, const PngSettings& settings) {
    const int level = settings.level != kPngLevelByKind ? settings.level
                      : pixels.indexed                  ? kDefaultPalettePngLevel
                                                        : kDefaultPngLevel;
    if (level < kMinPngLevel || level > kMaxPngLevel)
        throw files::ToolError("PNG level " + std::to_string(level) + " is not in " + std::to_string(kMinPngLevel) +
                               ".." + std::to_string(kMaxPngLevel));
    CheckShape(pixels);
    Bytes png;
    AppendHeader(png, pixels);
    if (pixels.indexed) PackIndexRows(pixels.rows, pixels.width, pixels.height, pixels.bitDepth);
    else FilterRgbRows(pixels.rows, pixels.width, pixels.height, settings.filterChoice);
    // Palette pictures win with matches alone; level 0 asks for no compression.
    AppendImageData(png, pixels.rows, level, !pixels.indexed && level > 0);
    pixels.rows = Bytes();
    const size_t iend = BeginChunk(png, "IEND");
    EndChunk(png, iend);
    // The output was sized by the compressed bound; give back what is left over when that is much.
    if (png.capacity() / 2 > png.size()) png.shrink_to_fit();
    return png;
}

}  // namespace host
