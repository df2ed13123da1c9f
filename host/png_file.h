// PNG encoding of rendered pixels, through libspng.
#pragma once

#include <cstdint>
#include <vector>

#include "dib_pixels.h"

namespace host {

// How the image data is compressed. The defaults were chosen by measuring
// (bench/png_bench): about as small as an adaptive-filter, level-9 file at a
// fraction of its time. Each field takes the value of the libspng option of
// the same name (zlib's level, strategy, memory level and window bits; the
// SPNG_FILTER_CHOICE bits); -1 leaves libspng's own choice.
struct PngSettings {
    int compressionLevel = -1;
    int compressionStrategy = -1;
    int memLevel = -1;
    int windowBits = -1;
    int filterChoice = -1;  // RGB only: palette indices are never filtered
};

// Indexed pixels become a palette PNG at their bit depth, the others 8-bit
// RGB. Throws std::invalid_argument for pixels that break their own
// contract (row bytes, palette size) and std::runtime_error when libspng
// fails.
std::vector<uint8_t> EncodePng(const Pixels& pixels, const PngSettings& settings = {});

}  // namespace host
