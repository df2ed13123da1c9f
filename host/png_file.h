// PNG encoding of rendered pixels, through libspng.
#pragma once

#include <cstdint>
#include <vector>

#include "dib_pixels.h"

namespace host {

// Indexed pixels become a palette PNG at their own bit depth, the others
// 8-bit RGB.
std::vector<uint8_t> EncodePng(const Pixels& pixels);

}  // namespace host
