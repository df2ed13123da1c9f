// PNG encoding of rendered pixels: rows filtered here, compressed with
// libdeflate, chunks written here.
#pragma once

#include <cstdint>
#include <vector>

#include "dib_pixels.h"

namespace host {

// The filters a truecolour row may take, one bit each (PNG's filter type
// plus 3, as PNG libraries number these choices).
enum PngFilterChoice : int {
    kPngFilterNone = 1 << 3,
    kPngFilterSub = 1 << 4,
    kPngFilterUp = 1 << 5,
    kPngFilterAverage = 1 << 6,
    kPngFilterPaeth = 1 << 7,
    kPngAllFilters = kPngFilterNone | kPngFilterSub | kPngFilterUp | kPngFilterAverage | kPngFilterPaeth,
};

// libdeflate's levels: 0 stores, 12 is the smallest and slowest (from 1 on,
// a photograph's rows may be coded as literals instead, when smaller). The
// defaults were chosen with bench/png_bench on photographs, drawn pictures
// and the generated ones: for RGB the lowest level whose PNG is no larger
// than ImageMagick's on every one of them, except on photographs (told by
// the trial compressions: their literals cost about what matches save),
// where 8 takes two to three times 7's time for under 2%; palette pictures
// are smaller than that already at 7.
constexpr int kMinPngLevel = 0, kMaxPngLevel = 12;
constexpr int kDefaultPngLevel = 8, kDefaultPhotoPngLevel = 7, kDefaultPalettePngLevel = 7;
constexpr int kPngLevelByKind = -1;  // the default of the picture's kind

struct PngSettings {
    int level = kPngLevelByKind;
    // Truecolour only: each row takes the filter among these that leaves
    // the smallest sum of magnitudes. Palette indices are never filtered.
    int filterChoice = kPngAllFilters;
    // Truecolour only: each band of rows may instead take no filter or Sub
    // alone, where a trial compression of its first rows finds that
    // smaller (drawn pictures, gradients). False: every row by the rule
    // above, as other PNG writers do.
    bool trialBands = true;
};

// Indexed pixels become a palette PNG at their bit depth, the others 8-bit
// RGB. The pixels are taken by value and filtered in place, so that a
// caller that moves them in pays for no second copy. ToolError for pixels
// that break their own contract (row bytes, palette size), a level out of
// range or a picture too large for one PNG.
std::vector<uint8_t> EncodePng(Pixels pixels, const PngSettings& settings = {});

}  // namespace host
