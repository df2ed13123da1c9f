// Placeholder: 24-bit bottom-up pictures only.
#include "dib_pixels.h"

#include <cstring>

namespace host {

Rendering RenderDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize) {
    if (infoSize < 40) throw RenderError("info part too short");
    int32_t width, height;
    uint16_t bitCount;
    std::memcpy(&width, info + 4, 4);
    std::memcpy(&height, info + 8, 4);
    std::memcpy(&bitCount, info + 14, 2);
    if (bitCount != 24 || width <= 0 || height <= 0 || width > 65536 || height > 65536)
        throw RenderError("not drawn yet");
    Rendering r;
    r.pixels.width = width;
    r.pixels.height = height;
    r.pixels.rows.assign(size_t(width) * height * 3, 0);
    size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            size_t at = (height - 1 - y) * stride + x * 3;
            if (at + 3 > bitsSize) { r.complete = false; continue; }
            uint8_t* out = &r.pixels.rows[(size_t(y) * width + x) * 3];
            out[0] = bits[at + 2]; out[1] = bits[at + 1]; out[2] = bits[at];
        }
    return r;
}

}  // namespace host
