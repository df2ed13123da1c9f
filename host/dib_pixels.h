// Pixels from the two parts GetPicture delivers (the info part: the
// 40-byte info header with its colour table or masks; the bits: the pixel
// data), drawn as a Windows viewer draws them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tool_error.h"

namespace host {

struct Rgb {
    uint8_t r, g, b;
};

// A picture ready to be written: top row first, no padding.
struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    // Palette pictures (1, 4 and 8 bits, RLE4 and RLE8) stay indexed: one
    // index byte per pixel, colours in `palette`, `bitDepth` the depth to
    // write: the picture's own (1, 4 or 8), or the next one up (2 or 8) in
    // the rare case that its full table lacks the black that pixels never
    // drawn need. Every index used is below palette.size() <= 2^bitDepth:
    // indices past the picture's table are drawn black, through black
    // entries added to it, so that every index keeps its meaning.
    bool indexed = false;
    uint8_t bitDepth = 8;
    std::vector<Rgb> palette;
    // Indexed: width bytes a row. RGB: 3 bytes (R, G, B) a pixel.
    std::vector<uint8_t> rows;
};

struct Rendering {
    Pixels pixels;
    // False when the bits ended before the picture did; the rest is black
    // and `warnings` says where the bits ended.
    bool complete = true;
    std::vector<std::string> warnings;
};

// The largest picture drawn: 64 Mi pixels (8192 x 8192), at most 192 MiB of
// RGB rows. A header may claim any size; this keeps a hostile one from
// making us allocate gigabytes.
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

// Draws 1-, 4- and 8-bit palettes, 16-bit 5-5-5 and bit-field masks,
// 24-bit, 32-bit with and without masks, RLE8 and RLE4, stored bottom-up or
// top-down (RLE: bottom-up only), as a Windows viewer does:
// - A palette has biClrUsed entries (0: 2^bitCount); entries past
//   2^bitCount are never reached, indices past the table are black.
// - Bit-field masks: each channel is the lowest run of set bits in its mask
//   (the bits above a gap are ignored; a zero mask gives 0). A field wider
//   than 8 bits keeps its top 8; a narrower one is widened by repeating its
//   bits, so that all ones is 255. The fourth byte of a 32-bit pixel is
//   never alpha.
// - RLE: a run or an absolute stretch past the end of its row is clipped,
//   not wrapped; a delta past the right edge draws nothing until the next
//   end of line, one past the top ends the picture. Pixels the stream skips
//   are black.
// - Bits that end early: every pixel whose bytes are all there is drawn,
//   the rest is black, `complete` is false, and a warning says so. An RLE
//   stream that ends without its end-of-bitmap before its last row is
//   incomplete alike.
// Every size is checked before anything is allocated: width x height at most
// `maxPixels`, strides computed in 64 bits.
Rendering RenderDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                    uint64_t maxPixels = kMaxPixels);

}  // namespace host
