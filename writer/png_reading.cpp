#include "png_reading.h"

#include <spng.h>

#include <cstring>
#include <memory>
#include <string>

#include "tool_error.h"

namespace writer {

namespace {

constexpr uint64_t kMostPixels = uint64_t{1} << 26;
constexpr size_t kLargestPngChunk = size_t{64} << 20;

// 16-bit samples to 8 bits, rounded to the nearest.
uint8_t Reduce16(uint32_t v) { return static_cast<uint8_t>((v * 255 + 32767) / 65535); }

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

[[noreturn]] void FailPng(int error) {
    throw files::ToolError(std::string("not a readable PNG: ") + spng_strerror(error));
}

SpngContext OpenPng(const uint8_t* png, size_t size, spng_ihdr* ihdr) {
    SpngContext ctx(spng_ctx_new(0), spng_ctx_free);
    if (!ctx) throw files::ToolError("out of memory");
    spng_set_image_limits(ctx.get(), 1u << 24, 1u << 24);
    spng_set_chunk_limits(ctx.get(), kLargestPngChunk, kLargestPngChunk);
    if (int error = spng_set_png_buffer(ctx.get(), png, size)) FailPng(error);
    if (int error = spng_get_ihdr(ctx.get(), ihdr)) FailPng(error);
    if (uint64_t{ihdr->width} * ihdr->height > kMostPixels)
        throw files::ToolError(std::to_string(ihdr->width) + "x" + std::to_string(ihdr->height) +
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

}  // namespace

PngFacts ReadPngFacts(const uint8_t* png, size_t size) {
    spng_ihdr ihdr;
    SpngContext ctx = OpenPng(png, size, &ihdr);
    PngFacts facts;
    facts.width = ihdr.width;
    facts.height = ihdr.height;
    facts.bitDepth = ihdr.bit_depth;
    facts.hasTransparencyChunk = HasTransparencyChunk(ctx.get());
    switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_INDEXED: facts.colour = PngColour::Palette; break;
    case SPNG_COLOR_TYPE_GRAYSCALE: facts.colour = PngColour::Grey; break;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: facts.colour = PngColour::GreyAlpha; break;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: facts.colour = PngColour::RgbAlpha; break;
    default: facts.colour = PngColour::Rgb; break;
    }
    return facts;
}

namespace {

// The palette of a palette PNG (with its tRNS alpha), or a ramp of grey
// levels for grey.
std::vector<Rgba> IndexedPalette(spng_ctx* ctx, const spng_ihdr& ihdr) {
    std::vector<Rgba> palette;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte;
        if (int error = spng_get_plte(ctx, &plte)) FailPng(error);
        spng_trns trns;
        bool hasTrns = spng_get_trns(ctx, &trns) == 0;
        for (uint32_t i = 0; i < plte.n_entries; ++i) {
            uint8_t alpha = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
            palette.push_back({plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue, alpha});
        }
        return palette;
    }
    const unsigned levels = ihdr.bit_depth == 16 ? 256 : 1u << ihdr.bit_depth;
    for (unsigned i = 0; i < levels; ++i) {
        uint8_t grey = static_cast<uint8_t>(i * 255 / (levels - 1));
        palette.push_back({grey, grey, grey, 255});
    }
    return palette;
}

// The decoded rows as one index per pixel (16-bit grey reduced to 8 bits).
std::vector<uint8_t> UnpackIndices(const std::vector<uint8_t>& rows, uint32_t width, uint32_t height,
                                   unsigned depth) {
    const size_t rowBytes = depth == 16 ? size_t{width} * 2 : (size_t{width} * depth + 7) / 8;
    std::vector<uint8_t> indices(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = rows.data() + rowBytes * y;
        uint8_t* out = indices.data() + size_t{width} * y;
        for (uint32_t x = 0; x < width; ++x) {
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
    return indices;
}

}  // namespace

Picture DecodeIndexed(const uint8_t* png, size_t size) {
    spng_ihdr ihdr;
    SpngContext ctx = OpenPng(png, size, &ihdr);
    Picture picture;
    picture.width = ihdr.width;
    picture.height = ihdr.height;
    picture.indexed = true;
    picture.palette = IndexedPalette(ctx.get(), ihdr);
    picture.indices = UnpackIndices(DecodeAs(ctx.get(), SPNG_FMT_PNG, 0), ihdr.width, ihdr.height, ihdr.bit_depth);
    for (uint8_t index : picture.indices)
        if (index >= picture.palette.size())
            throw files::ToolError("a pixel uses colour " + std::to_string(index) + " of a palette of " +
                                   std::to_string(picture.palette.size()));
    return picture;
}

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

}  // namespace writer
