// Pixels from the two parts GetPicture delivers (the info part: the
// 40-byte info header with its colour table or masks; the bits: the pixel
// data), drawn as a Windows viewer draws them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

struct Rgb {
    uint8_t r, g, b;
};

// A picture ready to be written: top row first, no padding.
struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    // Palette pictures (1, 4 and 8 bits, RLE4 and RLE8) stay indexed: one
    // index byte per pixel, colours in `palette`, `bitDepth` the picture's own
    // (1, 4 or 8). Every index used is below palette.size(): indices past the
    // picture's table are drawn black, through black entries added to it.
    bool indexed = false;
    uint8_t bitDepth = 8;
    std::vector<Rgb> palette;
    // Indexed: width bytes a row. RGB: 3 bytes (R, G, B) a pixel.
    std::vector<uint8_t> rows;
};

struct Rendering {
    Pixels pixels;
    // False when the bits ended before the picture did; the rest is black.
    bool complete = true;
    std::vector<std::string> warnings;
};

// A picture that cannot be drawn at all: an unknown depth or compression, a
// size beyond what it could ever hold, an info part too short for its table.
struct RenderError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Draws 1-, 4- and 8-bit palettes (biClrUsed honoured), 16-bit 5-5-5 and
// bit-field masks, 24-bit, 32-bit with and without masks, RLE8 and RLE4,
// stored bottom-up or top-down. Every size is checked before anything is
// allocated.
Rendering RenderDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize);

}  // namespace host
