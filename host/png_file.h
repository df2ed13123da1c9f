// PNG encoding of rendered pixels, through libspng.
#pragma once

#include <cstdint>
#include <vector>

#include "dib_pixels.h"

namespace host {

// How the image data is compressed. Each field takes the value of the
// libspng option of the same name (zlib's level, strategy, memory level and
// window bits; the SPNG_FILTER_CHOICE bits), -1 leaving libspng's default.
// The defaults were chosen with bench/png_bench: zlib level 7 with the
// strategy for filtered data (Z_FILTERED) and a per-row choice among the
// sub, up and average filters.
struct PngSettings {
    int compressionLevel = 7;
    int compressionStrategy = 1;  // Z_FILTERED
    int memLevel = -1;
    int windowBits = -1;
    int filterChoice = -1;  // RGB only (palette indices are never filtered); -1: sub, up, average
};

// Indexed pixels become a palette PNG at their bit depth, the others 8-bit
// RGB. Throws std::invalid_argument for pixels that break their own
// contract (row bytes, palette size) and std::runtime_error when libspng
// fails.
std::vector<uint8_t> EncodePng(const Pixels& pixels, const PngSettings& settings = {});

}  // namespace host
