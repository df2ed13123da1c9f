// Fixtures for the picture plug-in: Windows bitmap files of every depth,
// the packed files that hold them, and temporary files to read them from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bitmap_builder {

struct BitmapRecipe {
    int32_t width = 5;
    int32_t height = 3;        // negative: rows stored top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0;  // 3 with 16 or 32 bits: three masks follow the header
    uint32_t colorsUsed = 0;   // 1, 4, 8 bits: entries in the table; 0 means 2^bitCount
    uint32_t gap = 0;          // filler bytes between the table or masks and the pixels
    uint32_t offBits = 0;      // written as bfOffBits; 0 writes the true offset
};

// Parts a test gives in place of the generated ones, each when not empty:
// the three masks (16, 32 bits with compression 3; default 5-6-5 or 8-8-8),
// the colour table as 0x00RRGGBB entries (its length then sets biClrUsed),
// and the pixel bytes (an RLE stream, say).
struct BitmapParts {
    std::vector<uint32_t> masks;
    std::vector<uint32_t> colours;
    std::vector<uint8_t> pixels;
};

// A whole bitmap file and the two parts a host should receive from it.
struct Bitmap {
    std::vector<uint8_t> file;
    std::vector<uint8_t> infoPart;  // info header plus colour table or masks
    std::vector<uint8_t> bits;      // everything behind the info part (gap and pixels)
};

Bitmap BuildBitmap(const BitmapRecipe& recipe, const BitmapParts& parts = {});

// A packed picture file: signature "B1" or "E1" (by `letter`), the packed
// and unpacked lengths, then the LZSS stream of `image`.
std::vector<uint8_t> PackBitmap(const std::vector<uint8_t>& image, char letter = 'B');

// A packed file with whatever header a test needs in front of `stream`.
std::vector<uint8_t> PackedFile(const char* signature, uint32_t packedLength,
                                uint32_t unpackedLength, const std::vector<uint8_t>& stream);

void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// A file in the temporary folder holding `bytes`, removed when this goes.
class TempFile {
public:
    explicit TempFile(const std::vector<uint8_t>& bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

// A path that names no file.
std::string MissingPath();

}  // namespace bitmap_builder
