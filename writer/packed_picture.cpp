#include "packed_picture.h"

#include <spng.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "byte_order.h"

namespace writer {

namespace {

// Beyond these a 32-bit viewer could not hold the picture anyway, and the
// decoder's buffers stay bounded whatever a PNG announces.
constexpr uint64_t kMostPixels = uint64_t{1} << 26;
constexpr uint64_t kLargestBitmap = uint64_t{1} << 30;
constexpr size_t kLargestPngChunk = size_t{64} << 20;

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;

struct Rgba {
    uint8_t r, g, b, a;
};

// The picture a PNG holds, top row first.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    bool indexed = false;
    std::vector<uint8_t> indices;  // indexed: one per pixel
    std::vector<Rgba> palette;     // indexed
    std::vector<Rgba> pixels;      // direct colour: one per pixel
};

// A picture that is fine but does not fit the depth asked for.
struct DepthMismatch : PictureError {
    using PictureError::PictureError;
};

// Sizes are size_t, 32 bits in the Windows build: compared as 64-bit values.
bool Reaches4GiB(uint64_t size) { return size > 0xFFFFFFFFull; }

uint64_t RowStride(uint64_t width, uint16_t bits) { return (width * bits + 31) / 32 * 4; }

// 16-bit samples to 8 bits, rounded to the nearest.
uint8_t Reduce16(uint32_t v) { return static_cast<uint8_t>((v * 255 + 32767) / 65535); }

bool ValidDepth(uint16_t depth) {
    return depth == 1 || depth == 4 || depth == 8 || depth == 24 || depth == 32;
}

// ---- PNG decoding (libspng) ----

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

[[noreturn]] void FailPng(int error) {
    throw PictureError(std::string("not a readable PNG: ") + spng_strerror(error));
}

SpngContext OpenPng(const uint8_t* png, size_t size, spng_ihdr* ihdr) {
    SpngContext ctx(spng_ctx_new(0), spng_ctx_free);
    if (!ctx) throw PictureError("out of memory");
    spng_set_image_limits(ctx.get(), 1u << 24, 1u << 24);
    spng_set_chunk_limits(ctx.get(), kLargestPngChunk, kLargestPngChunk);
    if (int error = spng_set_png_buffer(ctx.get(), png, size)) FailPng(error);
    if (int error = spng_get_ihdr(ctx.get(), ihdr)) FailPng(error);
    if (uint64_t{ihdr->width} * ihdr->height > kMostPixels)
        throw PictureError(std::to_string(ihdr->width) + "x" + std::to_string(ihdr->height) +
                           " pixels are more than a picture may hold (" + std::to_string(kMostPixels) + ")");
    return ctx;
}

std::vector<uint8_t> DecodeAs(spng_ctx* ctx, int format, int flags) {
    size_t size = 0;
    if (int error = spng_decoded_image_size(ctx, format, &size)) FailPng(error);
    std::vector<uint8_t> image(size);
    if (int error = spng_decode_image(ctx, image.data(), image.size(), format, flags)) FailPng(error);
    return image;
}

bool HasTransparencyChunk(spng_ctx* ctx) {
    spng_trns trns;
    return spng_get_trns(ctx, &trns) == 0;
}

// Palette PNGs and grey of up to 16 bits, as indices into a palette (grey
// levels for grey).
Picture DecodeIndexed(const uint8_t* png, size_t size) {
    spng_ihdr ihdr;
    SpngContext ctx = OpenPng(png, size, &ihdr);
    Picture picture;
    picture.width = ihdr.width;
    picture.height = ihdr.height;
    picture.indexed = true;
    const unsigned depth = ihdr.bit_depth;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte;
        if (int error = spng_get_plte(ctx.get(), &plte)) FailPng(error);
        spng_trns trns;
        bool hasTrns = spng_get_trns(ctx.get(), &trns) == 0;
        for (uint32_t i = 0; i < plte.n_entries; ++i) {
            uint8_t alpha = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
            picture.palette.push_back({plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue, alpha});
        }
    } else {
        const unsigned levels = depth == 16 ? 256 : 1u << depth;
        for (unsigned i = 0; i < levels; ++i) {
            uint8_t grey = static_cast<uint8_t>(i * 255 / (levels - 1));
            picture.palette.push_back({grey, grey, grey, 255});
        }
    }

    std::vector<uint8_t> rows = DecodeAs(ctx.get(), SPNG_FMT_PNG, 0);
    const size_t rowBytes = depth == 16 ? size_t{ihdr.width} * 2 : (size_t{ihdr.width} * depth + 7) / 8;
    picture.indices.resize(size_t{ihdr.width} * ihdr.height);
    for (uint32_t y = 0; y < ihdr.height; ++y) {
        const uint8_t* row = rows.data() + rowBytes * y;
        uint8_t* out = picture.indices.data() + size_t{ihdr.width} * y;
        for (uint32_t x = 0; x < ihdr.width; ++x) {
            if (depth == 16) {
                uint16_t sample;
                std::memcpy(&sample, row + 2 * size_t{x}, 2);  // host order
                out[x] = Reduce16(sample);
            } else {
                size_t bit = size_t{x} * depth;
                out[x] = static_cast<uint8_t>((row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1));
            }
        }
    }
    for (uint8_t index : picture.indices)
        if (index >= picture.palette.size())
            throw PictureError("a pixel uses colour " + std::to_string(index) + " of a palette of " +
                               std::to_string(picture.palette.size()));
    return picture;
}

// Any PNG as 8-bit RGBA; the tRNS transparency applied only when asked.
Picture DecodeDirect(const uint8_t* png, size_t size, bool applyTransparency) {
    spng_ihdr ihdr;
    SpngContext ctx = OpenPng(png, size, &ihdr);
    Picture picture;
    picture.width = ihdr.width;
    picture.height = ihdr.height;
    const int flags = applyTransparency ? SPNG_DECODE_TRNS : 0;
    const size_t count = size_t{ihdr.width} * ihdr.height;
    picture.pixels.resize(count);
    if (ihdr.bit_depth == 16) {
        std::vector<uint8_t> image = DecodeAs(ctx.get(), SPNG_FMT_RGBA16, flags);
        for (size_t i = 0; i < count; ++i) {
            uint16_t c[4];
            std::memcpy(c, image.data() + 8 * i, 8);  // host order
            picture.pixels[i] = {Reduce16(c[0]), Reduce16(c[1]), Reduce16(c[2]), Reduce16(c[3])};
        }
    } else {
        std::vector<uint8_t> image = DecodeAs(ctx.get(), SPNG_FMT_RGBA8, flags);
        std::memcpy(picture.pixels.data(), image.data(), 4 * count);
    }
    return picture;
}

bool AllOpaque(const Picture& picture) {
    for (const Rgba& pixel : picture.pixels)
        if (pixel.a != 255) return false;
    return true;
}

// Direct colours into a palette of at most `limit` entries, in order of
// first appearance; a picture with more colours does not fit.
void MakeIndexed(Picture& picture, size_t limit, uint16_t depth) {
    std::unordered_map<uint32_t, uint8_t> seen;
    picture.indices.resize(picture.pixels.size());
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        const Rgba& pixel = picture.pixels[i];
        uint32_t key = uint32_t{pixel.r} | (uint32_t{pixel.g} << 8) | (uint32_t{pixel.b} << 16);
        auto found = seen.find(key);
        if (found == seen.end()) {
            if (seen.size() == limit)
                throw DepthMismatch("the picture has more than " + std::to_string(limit) +
                                    " colours, which a " + std::to_string(depth) + "-bit picture cannot hold");
            found = seen.emplace(key, static_cast<uint8_t>(seen.size())).first;
            picture.palette.push_back(pixel);
        }
        picture.indices[i] = found->second;
    }
    picture.pixels.clear();
    picture.indexed = true;
}

// ---- Bitmap files ----

std::vector<uint8_t> BitmapHeaders(const Picture& picture, uint16_t bits, uint32_t paletteEntries) {
    const uint64_t stride = RowStride(picture.width, bits);
    const uint64_t offBits = kFileHeaderBytes + kInfoHeaderBytes + 4 * uint64_t{paletteEntries};
    const uint64_t fileSize = offBits + stride * picture.height;
    if (fileSize > kLargestBitmap)
        throw PictureError("the bitmap would take " + std::to_string(fileSize) + " bytes, more than the " +
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

// The PNG at exactly `depth`; DepthMismatch when it does not fit.
std::vector<uint8_t> BitmapAtDepth(const uint8_t* png, size_t size, const spng_ihdr& ihdr, bool hasTrns,
                                   uint16_t depth, std::vector<std::string>* notes) {
    const bool indexedSource = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ||
                               ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE;
    const std::string droppedTransparency =
        "the PNG's transparency (tRNS) is dropped: only a 32-bit picture holds it";
    if (depth == 32) return DirectBitmap(DecodeDirect(png, size, true), 32);

    if (depth == 24) {
        Picture picture = DecodeDirect(png, size, false);
        if (!AllOpaque(picture))
            throw DepthMismatch("the picture has transparent pixels, which a 24-bit picture cannot hold");
        if (hasTrns) notes->push_back(droppedTransparency);
        return DirectBitmap(picture, 24);
    }

    const size_t limit = size_t{1} << depth;
    Picture picture;
    if (indexedSource) {
        picture = DecodeIndexed(png, size);
        for (uint8_t index : picture.indices)
            if (index >= limit)
                throw DepthMismatch("a pixel uses colour " + std::to_string(index) + ", which a " +
                                    std::to_string(depth) + "-bit picture cannot hold");
        bool transparent = false;
        for (size_t i = 0; i < picture.palette.size() && i < limit; ++i) transparent |= picture.palette[i].a != 255;
        if (transparent || (hasTrns && ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE))
            notes->push_back(droppedTransparency);
    } else {
        picture = DecodeDirect(png, size, false);
        if (!AllOpaque(picture))
            throw DepthMismatch("the picture has transparent pixels, which a " + std::to_string(depth) +
                                "-bit picture cannot hold");
        MakeIndexed(picture, limit, depth);
        if (hasTrns) notes->push_back(droppedTransparency);
    }
    return PaletteBitmap(picture, depth);
}

uint16_t NaturalDepth(const spng_ihdr& ihdr) {
    switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_TRUECOLOR:
        return 24;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
        return 32;
    default:  // palette, grey
        return 8;
    }
}

// ---- Plain bitmap files ----

struct BitmapFacts {
    uint16_t bitCount;
    uint32_t compression;
    uint64_t infoPartSize;
};

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

// A literal decoder of the packed stream, to check every picture written
// before anyone else sees it.
bool UnpacksTo(const std::vector<uint8_t>& packed, const uint8_t* expected, size_t expectedSize) {
    uint8_t window[4096] = {};
    uint32_t writePos = 4078;
    size_t in = 0, out = 0;
    while (out < expectedSize) {
        if (in >= packed.size()) return false;
        const uint8_t flags = packed[in++];
        for (int bit = 0; bit < 8 && out < expectedSize; ++bit) {
            if (flags & (1u << bit)) {
                if (in >= packed.size() || packed[in] != expected[out]) return false;
                window[writePos] = packed[in++];
                writePos = (writePos + 1) & 4095;
                ++out;
                continue;
            }
            if (in + 2 > packed.size()) return false;
            uint32_t from = packed[in] | ((packed[in + 1] & 0xF0u) << 4);
            uint32_t length = (packed[in + 1] & 0x0Fu) + 3;
            in += 2;
            for (uint32_t k = 0; k < length && out < expectedSize; ++k) {
                const uint8_t c = window[from];
                if (c != expected[out++]) return false;
                window[writePos] = c;
                from = (from + 1) & 4095;
                writePos = (writePos + 1) & 4095;
            }
        }
    }
    return true;
}

}  // namespace

bool LooksLikePng(const uint8_t* data, size_t size) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

bool LooksLikePlainBitmap(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

bool LooksLikePackedPicture(const uint8_t* data, size_t size) {
    return size >= kPackedHeaderSize && IsPackedPictureHeader(data);
}

std::vector<uint8_t> BitmapFromPng(const uint8_t* png, size_t size, uint16_t depth, uint16_t preferredDepth,
                                   uint16_t* bitCount, std::vector<std::string>* notes) {
    if (depth != 0 && !ValidDepth(depth))
        throw PictureError("a picture cannot be written at " + std::to_string(depth) +
                           " bits: choose 1, 4, 8, 24 or 32");
    spng_ihdr ihdr;
    bool hasTrns;
    {
        SpngContext ctx = OpenPng(png, size, &ihdr);
        hasTrns = HasTransparencyChunk(ctx.get());
    }
    std::vector<std::string> found;
    if (ihdr.bit_depth == 16) found.push_back("16-bit samples are rounded to 8 bits");

    uint16_t chosen = depth != 0 ? depth : NaturalDepth(ihdr);
    std::vector<uint8_t> bitmap;
    if (depth == 0 && preferredDepth != 0 && !ValidDepth(preferredDepth) && preferredDepth != chosen)
        found.push_back("written at " + std::to_string(chosen) + " bits, not " + std::to_string(preferredDepth) +
                        ": pictures are written at 1, 4, 8, 24 or 32 bits");
    if (depth == 0 && ValidDepth(preferredDepth) && preferredDepth != chosen) {
        try {
            std::vector<std::string> tried = found;
            bitmap = BitmapAtDepth(png, size, ihdr, hasTrns, preferredDepth, &tried);
            chosen = preferredDepth;
            found = tried;
        } catch (const DepthMismatch& mismatch) {
            found.push_back(std::string("written at ") + std::to_string(chosen) + " bits, not " +
                            std::to_string(preferredDepth) + ": " + mismatch.what());
        }
    }
    if (bitmap.empty()) bitmap = BitmapAtDepth(png, size, ihdr, hasTrns, chosen, &found);
    *bitCount = chosen;
    notes->insert(notes->end(), found.begin(), found.end());
    return bitmap;
}

uint16_t CheckPlainBitmap(const uint8_t* data, size_t size) {
    if (!LooksLikePlainBitmap(data, size)) throw PictureError("not a bitmap file (no 'BM' at its start)");
    if (size < kFileHeaderBytes + kInfoHeaderBytes)
        throw PictureError("too short for a bitmap file: " + std::to_string(size) + " bytes");
    if (Reaches4GiB(size)) throw PictureError("a bitmap file of 4 GiB or more cannot be packed");
    const uint8_t* info = data + kFileHeaderBytes;
    if (ReadLe32(info) != kInfoHeaderBytes)
        throw PictureError("its info header is " + std::to_string(ReadLe32(info)) +
                           " bytes; only the 40-byte kind is delivered as it is meant "
                           "(save it as a Windows 3 bitmap, or as PNG)");
    const int32_t width = static_cast<int32_t>(ReadLe32(info + 4));
    const int32_t height = static_cast<int32_t>(ReadLe32(info + 8));
    const uint16_t bits = ReadLe16(info + 14);
    const uint32_t compression = ReadLe32(info + 16);
    const uint32_t colorsUsed = ReadLe32(info + 32);
    if (width <= 0 || height == 0 || height == INT32_MIN)
        throw PictureError("its size " + std::to_string(width) + "x" + std::to_string(height) + " is not a picture's");
    if (!IsDeliverable(bits, compression))
        throw PictureError(std::to_string(bits) + "-bit pictures with compression " + std::to_string(compression) +
                           " are not ones the picture plug-in delivers");
    const bool compressed = compression == 1 || compression == 2;
    if (compressed && height < 0) throw PictureError("a compressed bitmap cannot be stored top-down");

    uint64_t infoPart = kInfoHeaderBytes;
    if (bits <= 8) {
        if (colorsUsed > (1u << bits))
            throw PictureError("its colour table has " + std::to_string(colorsUsed) + " entries, more than a " +
                               std::to_string(bits) + "-bit picture uses");
        infoPart += 4 * uint64_t{colorsUsed != 0 ? colorsUsed : 1u << bits};
    } else if (compression == 3) {
        infoPart += 12;
    }
    const uint64_t pixelsAt = kFileHeaderBytes + infoPart;
    if (pixelsAt >= size) throw PictureError("its colour table or masks leave no room for pixels");
    if (ReadLe32(data + 10) != pixelsAt)
        throw PictureError("its pixels start at offset " + std::to_string(ReadLe32(data + 10)) +
                           ", but the picture plug-in takes them from directly behind the colour table, at " +
                           std::to_string(pixelsAt));
    if (!compressed) {
        const uint64_t rows = RowStride(static_cast<uint64_t>(width), bits) *
                              static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
        if (size - pixelsAt < rows)
            throw PictureError("its pixel rows need " + std::to_string(rows) + " bytes, the file holds " +
                               std::to_string(size - pixelsAt));
    }
    return bits;
}

std::vector<uint8_t> PackBitmapFile(const uint8_t* bitmap, size_t size, PackedSignature signature,
                                    LzssParse parse) {
    if (size == 0) throw PictureError("no picture to pack");
    if (Reaches4GiB(size)) throw PictureError("a picture of 4 GiB or more cannot be packed");
    LzssEncoder encoder(parse);
    std::vector<uint8_t> stream = encoder.Encode(bitmap, size);
    if (!UnpacksTo(stream, bitmap, size)) throw PictureError("internal error: the packed stream does not unpack to the picture");
    if (Reaches4GiB(stream.size() + uint64_t{kPackedHeaderSize})) throw PictureError("the packed picture would reach 4 GiB");
    std::vector<uint8_t> file(kPackedHeaderSize + stream.size());
    WriteLe16(file.data(), signature == PackedSignature::B1 ? kSignatureB1 : kSignatureE1);
    WriteLe32(file.data() + 2, static_cast<uint32_t>(stream.size()));
    WriteLe32(file.data() + 6, static_cast<uint32_t>(size));
    std::memcpy(file.data() + kPackedHeaderSize, stream.data(), stream.size());
    return file;
}

PackedPicture PackPicture(const uint8_t* data, size_t size, const PackOptions& options) {
    PackedPicture result;
    if (LooksLikePng(data, size)) {
        const std::vector<uint8_t> bitmap =
            BitmapFromPng(data, size, options.depth, options.preferredDepth, &result.bitCount, &result.notes);
        result.file = PackBitmapFile(bitmap.data(), bitmap.size(), options.signature, options.parse);
    } else if (LooksLikePlainBitmap(data, size)) {
        result.bitCount = CheckPlainBitmap(data, size);
        if (options.depth != 0 && options.depth != result.bitCount)
            throw PictureError("a bitmap file is packed as it is, and this one has " +
                               std::to_string(result.bitCount) + " bits, not " + std::to_string(options.depth) +
                               " (convert it to PNG to change its depth)");
        if (options.preferredDepth != 0 && options.preferredDepth != result.bitCount)
            result.notes.push_back("packed as it is, at " + std::to_string(result.bitCount) + " bits, not " +
                                   std::to_string(options.preferredDepth));
        result.file = PackBitmapFile(data, size, options.signature, options.parse);  // packed where it lies
    } else if (LooksLikePackedPicture(data, size)) {
        throw PictureError("it is a packed picture already");
    } else {
        throw PictureError("neither a PNG nor a bitmap file");
    }
    return result;
}

}  // namespace writer
