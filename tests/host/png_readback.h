// What a PNG the host wrote holds, read back by libspng, and the pixels it
// was made from in the same form: the two sides of every PNG comparison.
#pragma once

#include <spng.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "dib_pixels.h"

namespace png_readback {

using Bytes = std::vector<uint8_t>;

// RGB, top row first; empty when libspng refuses the file.
inline Bytes DecodeToRgb(const Bytes& png, spng_ihdr* ihdr = nullptr) {
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_set_png_buffer(ctx.get(), png.data(), png.size());
    size_t size = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGB8, &size) != 0) return {};
    Bytes rgb(size);
    if (spng_decode_image(ctx.get(), rgb.data(), rgb.size(), SPNG_FMT_RGB8, 0) != 0) return {};
    if (ihdr) spng_get_ihdr(ctx.get(), ihdr);
    return rgb;
}

inline Bytes ToRgb(const host::Pixels& p) {
    if (!p.indexed) return p.rows;
    Bytes rgb;
    for (uint8_t index : p.rows) {
        const host::Rgb c = p.palette.at(index);
        rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
    return rgb;
}

}  // namespace png_readback
