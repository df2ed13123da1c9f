// Packed pictures from PNG files and plain Windows bitmap files: the bitmap
// file image at the chosen depth, LZSS-packed behind the 10-byte header
// ("B1" or "E1", the packed length, the unpacked length).
//
// A PNG's depth, unless the caller chooses one:
//   palette, and grey of 1 to 16 bits  -> 8-bit palette picture (grey as a
//                                         ramp of grey entries)
//   RGB                                -> 24-bit
//   RGB with alpha, grey with alpha    -> 32-bit (blue, green, red, alpha)
// 16-bit samples are rounded to 8 bits. A palette's or colour key's
// transparency (tRNS) is kept only at 32 bits; elsewhere it is dropped, with
// a note. A chosen depth of 1, 4 or 8 takes any picture whose colours fit
// (a palette picture: every pixel's index below 2, 16 or 256; any other
// picture: at most that many distinct opaque colours); 24 takes any picture
// without transparent pixels; 32 takes every picture. What does not fit is
// refused with a message that says why. The pictures are written bottom-up
// with uncompressed rows, biClrUsed set to the palette's entries.
//
// A plain bitmap file is packed byte for byte, once it is known to be one
// the picture plug-in delivers as it is meant: a 40-byte info header, a
// depth and compression that go together, the pixels directly behind the
// colour table or masks, and all rows present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "lzss_encoder.h"
#include "zorvan_format.h"

namespace writer {

struct PictureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class PackedSignature { B1, E1 };

struct PackOptions {
    PackedSignature signature = PackedSignature::B1;
    // 0, or 1, 4, 8, 24 or 32: the depth to write; a picture that does not
    // fit is refused.
    uint16_t depth = 0;
    // With depth 0: a depth to keep when the picture fits it (a rebuild
    // keeps the replaced picture's depth), the picture's own otherwise.
    uint16_t preferredDepth = 0;
    LzssParse parse = LzssParse::Optimal;
};

struct PackedPicture {
    std::vector<uint8_t> file;  // the packed picture file
    uint16_t bitCount = 0;      // of the picture it holds
    // What the user should know: dropped transparency, reduced samples.
    std::vector<std::string> notes;
};

bool LooksLikePng(const uint8_t* data, size_t size);
bool LooksLikePlainBitmap(const uint8_t* data, size_t size);
// A header the picture plug-in accepts: "B1" or "E1" and two nonzero lengths.
bool LooksLikePackedPicture(const uint8_t* data, size_t size);

// A PNG or a plain bitmap file, recognised by its content, into a packed
// picture. Throws PictureError.
PackedPicture PackPicture(const uint8_t* data, size_t size, const PackOptions& options);

// The steps on their own. A PNG to a bitmap file image: *bitCount receives
// its depth, notes what the user should know.
std::vector<uint8_t> BitmapFromPng(const uint8_t* png, size_t size, uint16_t depth, uint16_t preferredDepth,
                                   uint16_t* bitCount, std::vector<std::string>* notes);
// Throws PictureError unless the plug-in delivers this bitmap file as it is
// meant; returns its bit count.
uint16_t CheckPlainBitmap(const uint8_t* data, size_t size);
// The packed picture file holding the `size` bytes of `bitmap`.
std::vector<uint8_t> PackBitmapFile(const uint8_t* bitmap, size_t size, PackedSignature signature, LzssParse parse);

}  // namespace writer
