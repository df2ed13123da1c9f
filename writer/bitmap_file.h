// Plain Windows bitmap files: their fixed sizes, and writing a picture held
// in memory as one (bottom-up, uncompressed rows, a 40-byte info header,
// biClrUsed set to the palette's entries).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace writer {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
// Beyond this a 32-bit viewer could not hold the picture anyway.
constexpr uint64_t kLargestBitmap = uint64_t{1} << 30;

// Sizes are size_t, 32 bits in the Windows build: compared as 64-bit values.
inline bool Reaches4GiB(uint64_t size) { return size > 0xFFFFFFFFull; }

inline uint64_t RowStride(uint64_t width, uint16_t bits) { return (width * bits + 31) / 32 * 4; }

struct Rgba {
    uint8_t r, g, b, a;
};

// A picture in memory, top row first.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    bool indexed = false;
    std::vector<uint8_t> indices;  // indexed: one per pixel
    std::vector<Rgba> palette;     // indexed
    std::vector<Rgba> pixels;      // direct colour: one per pixel
};

// An indexed picture at 1, 4 or 8 bits (the palette cut to 2^bits entries).
// files::ToolError when the file would exceed kLargestBitmap.
std::vector<uint8_t> PaletteBitmap(const Picture& picture, uint16_t bits);
// A direct-colour picture at 24 bits, or 32 with its alpha.
std::vector<uint8_t> DirectBitmap(const Picture& picture, uint16_t bits);

}  // namespace writer
