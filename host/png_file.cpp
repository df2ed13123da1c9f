#include "png_file.h"

#include <spng.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace host {
namespace {

using Context = std::unique_ptr<spng_ctx, void (*)(spng_ctx*)>;

void Check(int error, const char* what) {
    if (error != 0) throw std::runtime_error(std::string("PNG encoding failed (") + what + "): " + spng_strerror(error));
}

// libspng hands the file over in pieces; they go straight into the vector.
int AppendToVector(spng_ctx*, void* user, void* data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    try {
        const auto* bytes = static_cast<const uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        return SPNG_IO_ERROR;
    }
    return 0;
}

void CheckShape(const Pixels& p) {
    const uint64_t perRow = p.indexed ? p.width : uint64_t(p.width) * 3;
    if (p.width == 0 || p.height == 0 || p.rows.size() != perRow * p.height)
        throw std::invalid_argument("pixel rows do not match the picture's size");
    if (!p.indexed) return;
    const uint8_t depth = p.bitDepth;
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8) || p.palette.empty() ||
        p.palette.size() > (1u << depth))
        throw std::invalid_argument("palette does not fit the bit depth");
}

// PNG rows of an indexed picture: indices packed at the bit depth, the
// leftmost pixel in the highest bits.
std::vector<uint8_t> PackIndices(const Pixels& p) {
    const unsigned depth = p.bitDepth, perByte = 8 / depth;
    const size_t rowBytes = (size_t(p.width) * depth + 7) / 8;
    std::vector<uint8_t> packed(rowBytes * p.height, 0);
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t* src = &p.rows[size_t(y) * p.width];
        uint8_t* dst = &packed[y * rowBytes];
        for (uint32_t x = 0; x < p.width; ++x) {
            const unsigned shift = 8 - depth * (x % perByte + 1);
            dst[x / perByte] |= static_cast<uint8_t>((src[x] & ((1u << depth) - 1)) << shift);
        }
    }
    return packed;
}

void ApplySettings(spng_ctx* ctx, const PngSettings& s, bool indexed) {
    auto set = [&](spng_option option, int value) {
        if (value >= 0) Check(spng_set_option(ctx, option, value), "option");
    };
    set(SPNG_IMG_COMPRESSION_LEVEL, s.compressionLevel);
    set(SPNG_IMG_COMPRESSION_STRATEGY, s.compressionStrategy);
    set(SPNG_IMG_MEM_LEVEL, s.memLevel);
    set(SPNG_IMG_WINDOW_BITS, s.windowBits);
    // Filters only blur palette indices, which are not magnitudes.
    set(SPNG_FILTER_CHOICE, indexed ? SPNG_FILTER_CHOICE_NONE : s.filterChoice);
}

}  // namespace

std::vector<uint8_t> EncodePng(const Pixels& pixels, const PngSettings& settings) {
    CheckShape(pixels);
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    if (!ctx) throw std::bad_alloc();
    std::vector<uint8_t> png;
    png.reserve(pixels.rows.size() / 4 + 1024);
    Check(spng_set_png_stream(ctx.get(), AppendToVector, &png), "stream");
    ApplySettings(ctx.get(), settings, pixels.indexed);

    spng_ihdr ihdr = {};
    ihdr.width = pixels.width;
    ihdr.height = pixels.height;
    ihdr.bit_depth = pixels.indexed ? pixels.bitDepth : 8;
    ihdr.color_type = pixels.indexed ? SPNG_COLOR_TYPE_INDEXED : SPNG_COLOR_TYPE_TRUECOLOR;
    Check(spng_set_ihdr(ctx.get(), &ihdr), "header");

    if (pixels.indexed) {
        spng_plte plte = {};
        plte.n_entries = static_cast<uint32_t>(pixels.palette.size());
        for (size_t i = 0; i < pixels.palette.size(); ++i)
            plte.entries[i] = {pixels.palette[i].r, pixels.palette[i].g, pixels.palette[i].b, 0};
        Check(spng_set_plte(ctx.get(), &plte), "palette");
    }
    // 8-bit indices and RGB bytes are PNG rows as they are.
    std::vector<uint8_t> packed;
    if (pixels.indexed && pixels.bitDepth < 8) packed = PackIndices(pixels);
    const std::vector<uint8_t>& rows = packed.empty() ? pixels.rows : packed;
    Check(spng_encode_image(ctx.get(), rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), "image");
    return png;
}

}  // namespace host
