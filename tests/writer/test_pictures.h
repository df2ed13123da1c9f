// PNG files made here, with the pixels they show known from the start, and
// a check of what the picture plug-in delivers against them.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin_host.h"

namespace test_pictures {

struct Rgba {
    uint8_t r, g, b, a;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

struct PictureRecipe {
    int colorType;  // PNG colour type: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int bitDepth;
    int colours;        // distinct colours drawn from
    bool translucent;   // some colours not opaque (alpha channel or palette tRNS)
    bool colourKey;     // grey or RGB: a tRNS colour key (the first colour)
    uint32_t width, height;
    uint32_t seed;
    bool interlaced = false;
};

struct Source {
    std::vector<uint8_t> png;
    std::vector<Rgba> pixels;  // top row first, as a 32-bit picture shows them
};

Source MakeSource(const PictureRecipe& recipe);

// The delivered picture has `bits` bits and shows the source's colours
// (and, at 32 bits, its alpha) at every pixel.
void ExpectShows(const writer_test::PictureDelivery& delivery, const Source& source, uint16_t bits);

}  // namespace test_pictures
