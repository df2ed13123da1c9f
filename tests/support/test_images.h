// Deterministic raw pixel data for the LZSS tests and benchmarks. Pixels are
// stored row after row, top row first, without padding or bitmap headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace test_images {

constexpr uint32_t kBenchWidth = 2048;
constexpr uint32_t kBenchHeight = 2048;

// 3 bytes per pixel (B, G, R): a dithered sky gradient, a band of flat shapes
// with outlines, a noisy textured region and a flat panel with small glyphs.
std::vector<uint8_t> MakeTruecolorPicture(uint32_t width, uint32_t height);

// 1 byte per pixel (palette indices): mostly large flat areas, with some
// dithered bands, glyph rows and a small noisy patch.
std::vector<uint8_t> MakePalettePicture(uint32_t width, uint32_t height);

// Uniformly random bytes from a seeded generator.
std::vector<uint8_t> MakeNoise(size_t size, uint64_t seed);

// Small deterministic generator (splitmix64) for tests that need random data.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); bound must be non-zero.
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

 private:
  uint64_t state_;
};

}  // namespace test_images
