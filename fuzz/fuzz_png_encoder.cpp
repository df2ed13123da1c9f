// EncodePng on pixels cut from the input: its first bytes choose the size,
// the kind (RGB, or indexed at a depth with a palette size), the level and
// the filters; the rest, repeated, are the pixels. The file must decode
// (libspng) to exactly those pixels: in the sanitizer build a write past any
// buffer, the compressed bound's above all, is caught on the spot.
#include <spng.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "png_file.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

std::vector<uint8_t> DecodeToRgb(const std::vector<uint8_t>& png) {
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_set_png_buffer(ctx.get(), png.data(), png.size());
    size_t size = 0;
    Require(spng_decoded_image_size(ctx.get(), SPNG_FMT_RGB8, &size) == 0);
    std::vector<uint8_t> rgb(size);
    Require(spng_decode_image(ctx.get(), rgb.data(), rgb.size(), SPNG_FMT_RGB8, 0) == 0);
    return rgb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    host::Pixels p;
    p.width = 1 + (data[0] | (data[1] & 3) << 8);  // up to 1024, so that rows reach past the vectors
    p.height = 1 + data[2] % 160;  // up to three bands of rows, each with its own rule
    p.indexed = (data[3] & 0x80) != 0;
    const uint8_t depths[] = {1, 2, 4, 8};
    p.bitDepth = depths[(data[3] >> 5) & 3];
    host::PngSettings settings;
    settings.level = data[4] % (host::kMaxPngLevel + 1);
    settings.filterChoice = (data[5] & 0x1F) << 3;
    settings.trialBands = (data[5] & 0x20) == 0;
    const uint8_t* bytes = data + 6;
    const size_t count = size - 6;
    if (p.indexed) p.palette.resize(1 + (data[3] & 0x1F) % (1u << p.bitDepth));
    for (size_t i = 0; i < p.palette.size(); ++i) p.palette[i] = {uint8_t(i * 7), uint8_t(i * 13), uint8_t(i * 29)};
    p.rows.resize(size_t(p.width) * p.height * (p.indexed ? 1 : 3));
    for (size_t i = 0; i < p.rows.size(); ++i) {
        const uint8_t byte = count ? bytes[i % count] : 0;
        p.rows[i] = p.indexed ? uint8_t(byte % p.palette.size()) : byte;
    }
    std::vector<uint8_t> expected;
    if (!p.indexed) expected = p.rows;
    for (uint8_t index : p.indexed ? p.rows : std::vector<uint8_t>())
        expected.insert(expected.end(), {p.palette[index].r, p.palette[index].g, p.palette[index].b});
    Require(DecodeToRgb(host::EncodePng(std::move(p), settings)) == expected);
    return 0;
}
