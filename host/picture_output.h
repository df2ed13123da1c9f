// A delivered picture (GetPicture's two parts) as a file of its own: a PNG
// of what a viewer draws, or the plain bitmap file it was unpacked from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin_calls.h"
#include "png_file.h"

namespace host {

struct PictureFile {
    std::vector<uint8_t> bytes;
    // Said when the picture could be drawn only in part (its bits end early).
    std::vector<std::string> warnings;
    bool complete = true;
};

// ToolError when the picture cannot be drawn at all.
PictureFile PictureToPng(PictureParts& parts, const PngSettings& settings = {});

// The bitmap file a viewer would read back: a 14-byte file header, then the
// info part and the bits exactly as delivered. ToolError when it would not
// fit a bitmap file's 32-bit size.
PictureFile PictureToBitmapFile(PictureParts& parts);

}  // namespace host
