#include "png_file.h"

#include <spng.h>

#include <memory>
#include <stdexcept>

namespace host {

std::vector<uint8_t> EncodePng(const Pixels& pixels) {
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    if (!ctx) throw std::runtime_error("out of memory");
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr = {};
    ihdr.width = pixels.width;
    ihdr.height = pixels.height;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx.get(), &ihdr);
    int error = spng_encode_image(ctx.get(), pixels.rows.data(), pixels.rows.size(), SPNG_FMT_PNG,
                                  SPNG_ENCODE_FINALIZE);
    if (error) throw std::runtime_error(spng_strerror(error));
    size_t size = 0;
    void* png = spng_get_png_buffer(ctx.get(), &size, &error);
    if (!png) throw std::runtime_error(spng_strerror(error));
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(png), static_cast<uint8_t*>(png) + size);
    free(png);
    return bytes;
}

}  // namespace host
