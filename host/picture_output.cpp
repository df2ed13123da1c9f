#include "picture_output.h"

#include <cstring>
#include <utility>

#include "dib_pixels.h"
#include "png_file.h"

namespace host {

PictureFile PictureToPng(PictureParts& parts, const PngSettings& settings) {
    ByteSpan info = parts.info.Bytes();
    ByteSpan bits = parts.bits.Bytes();
    Rendering rendering = RenderDib(info.data, info.size, bits.data, bits.size);
    // A picture drawn only in part comes with the renderer's word of where it ends.
    return {EncodePng(std::move(rendering.pixels), settings), std::move(rendering.warnings), rendering.complete};
}

PictureFile PictureToBitmapFile(PictureParts& parts) {
    ByteSpan info = parts.info.Bytes();
    ByteSpan bits = parts.bits.Bytes();
    const uint64_t total = 14 + uint64_t{info.size} + bits.size;
    if (total > 0xFFFFFFFFu) throw files::ToolError("the picture is too large for a bitmap file");
    PictureFile file;
    file.bytes.resize(static_cast<size_t>(total));
    uint8_t* out = file.bytes.data();
    out[0] = 'B';
    out[1] = 'M';
    WriteLe32(out + 2, static_cast<uint32_t>(total));
    WriteLe32(out + 6, 0);
    // The bits start right behind the info part, as the viewer takes them.
    WriteLe32(out + 10, static_cast<uint32_t>(14 + info.size));
    if (info.size) std::memcpy(out + 14, info.data, info.size);
    if (bits.size) std::memcpy(out + 14 + info.size, bits.data, bits.size);
    return file;
}

}  // namespace host
