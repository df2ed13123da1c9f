// The depth a PNG is written at, unless the caller chooses one:
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
// refused with a message that says why. A depth a rebuild prefers (the
// replaced picture's) is kept when the picture fits it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace writer {

// 1, 4, 8, 24 or 32.
bool ValidDepth(uint16_t depth);

// A PNG to a bitmap file image: *bitCount receives its depth, notes what
// the user should know. files::ToolError when it cannot be written so.
std::vector<uint8_t> BitmapFromPng(const uint8_t* png, size_t size, uint16_t depth, uint16_t preferredDepth,
                                   uint16_t* bitCount, std::vector<std::string>* notes);

}  // namespace writer
