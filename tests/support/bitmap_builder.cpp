#include "bitmap_builder.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "lzss_test_codec.h"
#include "temp_files.h"

namespace bitmap_builder {
namespace {

void Append16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

Bitmap BuildBitmap(const BitmapRecipe& recipe, const BitmapParts& parts) {
    Bitmap bitmap;
    uint32_t rows = recipe.height < 0 ? 0u - static_cast<uint32_t>(recipe.height)
                                    : static_cast<uint32_t>(recipe.height);
    uint32_t stride = (static_cast<uint32_t>(recipe.width) * recipe.bitCount + 31) / 32 * 4;
    uint32_t pixelBytes = parts.pixels.empty() ? stride * rows : static_cast<uint32_t>(parts.pixels.size());
    uint32_t colorsUsed = parts.colours.empty() ? recipe.colorsUsed : static_cast<uint32_t>(parts.colours.size());

    std::vector<uint8_t>& info = bitmap.infoPart;
    Append32(info, 40);
    Append32(info, static_cast<uint32_t>(recipe.width));
    Append32(info, static_cast<uint32_t>(recipe.height));
    Append16(info, 1);
    Append16(info, recipe.bitCount);
    Append32(info, recipe.compression);
    Append32(info, pixelBytes);
    Append32(info, 2835);
    Append32(info, 2835);
    Append32(info, colorsUsed);
    Append32(info, 0);
    if (recipe.bitCount == 1 || recipe.bitCount == 4 || recipe.bitCount == 8) {
        uint32_t entries = colorsUsed ? colorsUsed : 1u << recipe.bitCount;
        for (uint32_t i = 0; i < entries; ++i)
            Append32(info, parts.colours.empty() ? (i * 0x00030507u) ^ 0x00A05010u : parts.colours[i]);
    } else if ((recipe.bitCount == 16 || recipe.bitCount == 32) && recipe.compression == 3) {
        bool wide = recipe.bitCount == 32;
        std::vector<uint32_t> masks = parts.masks;
        if (masks.empty()) masks = wide ? std::vector<uint32_t>{0xFF0000, 0xFF00, 0xFF}
                                        : std::vector<uint32_t>{0xF800, 0x07E0, 0x001F};
        for (uint32_t mask : masks) Append32(info, mask);
    }

    for (uint32_t i = 0; i < recipe.gap; ++i) bitmap.bits.push_back(0xEE);
    if (!parts.pixels.empty()) {
        bitmap.bits.insert(bitmap.bits.end(), parts.pixels.begin(), parts.pixels.end());
    } else {
        for (uint32_t i = 0; i < pixelBytes; ++i)
            bitmap.bits.push_back(static_cast<uint8_t>((i / 7) * 13 + (i % stride) * 3));
    }

    uint32_t offBits = recipe.offBits ? recipe.offBits : 14 + static_cast<uint32_t>(info.size()) + recipe.gap;
    std::vector<uint8_t>& file = bitmap.file;
    file.push_back('B');
    file.push_back('M');
    Append32(file, static_cast<uint32_t>(14 + info.size() + bitmap.bits.size()));
    Append32(file, 0);
    Append32(file, offBits);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), bitmap.bits.begin(), bitmap.bits.end());
    return bitmap;
}

std::vector<uint8_t> PackedFile(const char* signature, uint32_t packedLength,
                                uint32_t unpackedLength, const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> file{static_cast<uint8_t>(signature[0]), static_cast<uint8_t>(signature[1])};
    Append32(file, packedLength);
    Append32(file, unpackedLength);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

std::vector<uint8_t> PackBitmap(const std::vector<uint8_t>& image, char letter) {
    std::vector<uint8_t> stream = lzss_test::LzssEncode(image.data(), image.size());
    const char signature[2] = {letter, '1'};
    return PackedFile(signature, static_cast<uint32_t>(stream.size()),
                      static_cast<uint32_t>(image.size()), stream);
}

TempFile::TempFile(const std::vector<uint8_t>& bytes) {
    std::string pattern = temp_files::TempFolder() + "/zorvpict-XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    path_ = pattern;
    if (!temp_files::WriteAllAndClose(fd, bytes)) throw std::runtime_error("cannot write a temporary file");
}

TempFile::~TempFile() { unlink(path_.c_str()); }

std::string MissingPath() { return temp_files::TempFolder() + "/zorvpict-no-such-file/picture.bmp"; }

}  // namespace bitmap_builder
