// Packed pictures: a bitmap file image LZSS-packed behind the 10-byte
// header ("B1" or "E1", the packed length, the unpacked length), from a PNG
// (png_reading.h, at the depth picture_depth.h chooses, written as
// bitmap_file.h writes it) or from a plain bitmap file packed as it is
// (plain_bitmap.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tool_error.h"
#include <string>
#include <vector>

#include "lzss_encoder.h"
#include "picture_depth.h"
#include "plain_bitmap.h"
#include "zorvan_format.h"

namespace writer {

enum class PackedSignature { B1, E1 };

// Whether the packed picture file `packed` gives back `bitmap` (the bitmap
// file packed into it) through the picture plug-in's own decoder. The
// caller supplies it from the plug-in's exports, so every picture written
// is checked by the reader that will read it; the writer carries no
// decoder of its own.
using PackedPictureCheck =
    std::function<bool(const std::vector<uint8_t>& packed, const uint8_t* bitmap, size_t size)>;

struct PackOptions {
    PackedSignature signature = PackedSignature::B1;
    // 0, or 1, 4, 8, 24 or 32: the depth to write; a picture that does not
    // fit is refused.
    uint16_t depth = 0;
    // With depth 0: a depth to keep when the picture fits it (a rebuild
    // keeps the replaced picture's depth), the picture's own otherwise.
    uint16_t preferredDepth = 0;
    LzssParse parse = LzssParse::Optimal;
    PackedPictureCheck check;  // none: the packing is not checked
};

struct PackedPicture {
    std::vector<uint8_t> file;  // the packed picture file
    uint16_t bitCount = 0;      // of the picture it holds
    // What the user should know: dropped transparency, reduced samples.
    std::vector<std::string> notes;
};

bool LooksLikePng(const uint8_t* data, size_t size);
// A header the picture plug-in accepts: "B1" or "E1" and two nonzero lengths.
bool LooksLikePackedPicture(const uint8_t* data, size_t size);

// A PNG or a plain bitmap file, recognised by its content, into a packed
// picture. Throws files::ToolError.
PackedPicture PackPicture(const uint8_t* data, size_t size, const PackOptions& options);

// The packed picture file holding the `size` bytes of `bitmap`, checked
// with `check` when one is given.
std::vector<uint8_t> PackBitmapFile(const uint8_t* bitmap, size_t size, PackedSignature signature, LzssParse parse,
                                    const PackedPictureCheck& check = {});

}  // namespace writer
