#include "packed_picture.h"

#include <cstring>

#include "bitmap_file.h"
#include "byte_order.h"

namespace writer {

bool LooksLikePng(const uint8_t* data, size_t size) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

bool LooksLikePackedPicture(const uint8_t* data, size_t size) {
    return size >= kPackedHeaderSize && IsPackedPictureHeader(data);
}

std::vector<uint8_t> PackBitmapFile(const uint8_t* bitmap, size_t size, PackedSignature signature, LzssParse parse,
                                    const PackedPictureCheck& check) {
    if (size == 0) throw files::ToolError("no picture to pack");
    if (Reaches4GiB(size)) throw files::ToolError("a picture of 4 GiB or more cannot be packed");
    LzssEncoder encoder(parse);
    std::vector<uint8_t> stream = encoder.Encode(bitmap, size);
    if (Reaches4GiB(stream.size() + uint64_t{kPackedHeaderSize}))
        throw files::ToolError("the packed picture would reach 4 GiB");
    std::vector<uint8_t> file(kPackedHeaderSize + stream.size());
    WriteLe16(file.data(), signature == PackedSignature::B1 ? kSignatureB1 : kSignatureE1);
    WriteLe32(file.data() + 2, static_cast<uint32_t>(stream.size()));
    WriteLe32(file.data() + 6, static_cast<uint32_t>(size));
    std::memcpy(file.data() + kPackedHeaderSize, stream.data(), stream.size());
    if (check && !check(file, bitmap, size))
        throw files::ToolError("internal error: the picture plug-in does not unpack the packed picture to the picture");
    return file;
}

PackedPicture PackPicture(const uint8_t* data, size_t size, const PackOptions& options) {
    PackedPicture result;
    if (LooksLikePng(data, size)) {
        const std::vector<uint8_t> bitmap =
            BitmapFromPng(data, size, options.depth, options.preferredDepth, &result.bitCount, &result.notes);
        result.file = PackBitmapFile(bitmap.data(), bitmap.size(), options.signature, options.parse, options.check);
    } else if (LooksLikePlainBitmap(data, size)) {
        result.bitCount = CheckPlainBitmap(data, size);
        if (options.depth != 0 && options.depth != result.bitCount)
            throw files::ToolError("a bitmap file is packed as it is, and this one has " +
                                   std::to_string(result.bitCount) + " bits, not " + std::to_string(options.depth) +
                                   " (convert it to PNG to change its depth)");
        if (options.preferredDepth != 0 && options.preferredDepth != result.bitCount)
            result.notes.push_back("packed as it is, at " + std::to_string(result.bitCount) + " bits, not " +
                                   std::to_string(options.preferredDepth));
        result.file = PackBitmapFile(data, size, options.signature, options.parse, options.check);  // where it lies
    } else if (LooksLikePackedPicture(data, size)) {
        throw files::ToolError("it is a packed picture already");
    } else {
        throw files::ToolError("neither a PNG nor a bitmap file");
    }
    return result;
}

}  // namespace writer
