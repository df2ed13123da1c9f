// Reading PNG files (libspng) into pictures in memory, within bounds a
// 32-bit viewer could hold whatever a PNG announces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitmap_file.h"

namespace writer {

enum class PngColour { Palette, Grey, GreyAlpha, Rgb, RgbAlpha };

// What a PNG's header and chunks say, before its pixels are decoded.
struct PngFacts {
    uint32_t width = 0;
    uint32_t height = 0;
    PngColour colour = PngColour::Rgb;
    uint8_t bitDepth = 8;
    bool hasTransparencyChunk = false;  // tRNS
};

// files::ToolError when it is no readable PNG or holds too many pixels.
PngFacts ReadPngFacts(const uint8_t* png, size_t size);

// Palette PNGs and grey of up to 16 bits, as indices into a palette (grey
// levels for grey).
Picture DecodeIndexed(const uint8_t* png, size_t size);

// Any PNG as 8-bit RGBA; the tRNS transparency applied only when asked.
Picture DecodeDirect(const uint8_t* png, size_t size, bool applyTransparency);

}  // namespace writer
