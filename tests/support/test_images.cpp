#include "test_images.h"

#include <algorithm>

namespace test_images {
namespace {

constexpr int kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

uint8_t Clamp8(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

struct Circle {
  int cx, cy, radius;
};

bool Inside(const Circle& c, int x, int y) {
  const int dx = x - c.cx, dy = y - c.cy;
  return dx * dx + dy * dy <= c.radius * c.radius;
}

// One 8x8 glyph cell of a fake text line; about half the cells stay blank
// (word gaps), the others get a fixed random bitmap from a small font.
bool GlyphPixel(const std::vector<uint64_t>& font, int x, int y, uint32_t lineSeed) {
  const int cell = x / 8;
  uint32_t h = (static_cast<uint32_t>(cell) * 2654435761u) ^ lineSeed;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  if ((h & 3) == 0) return false;
  const uint64_t glyph = font[(h >> 4) % font.size()];
  return (glyph >> ((y % 8) * 8 + (x % 8))) & 1;
}

std::vector<uint64_t> MakeFont(Rng& rng) {
  std::vector<uint64_t> font(64);
  // Keep the outer row and column empty so glyphs do not touch.
  for (auto& g : font) g = rng.Next() & 0x007E7E7E7E7E7E00ull;
  return font;
}

}  // namespace

std::vector<uint8_t> MakeTruecolorPicture(uint32_t width, uint32_t height) {
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  std::vector<uint8_t> px(static_cast<size_t>(width) * height * 3);
  Rng rng(0x5EED0001);
  const std::vector<uint64_t> font = MakeFont(rng);

  std::vector<Circle> circles;
  for (int i = 0; i < 24; ++i) {
    circles.push_back({static_cast<int>(rng.Below(width)),
                       static_cast<int>(h * 35 / 100 + rng.Below(std::max(1, h * 30 / 100))),
                       static_cast<int>(8 + rng.Below(std::max(1u, width / 12)))});
  }
  std::vector<uint32_t> circleColor;
  for (size_t i = 0; i < circles.size(); ++i) circleColor.push_back(static_cast<uint32_t>(rng.Next()));

  const int skyEnd = h * 35 / 100, sceneEnd = h * 65 / 100;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int b, g, r;
      if (y < skyEnd) {
        // Smooth gradient reduced to 8-step levels with a 4x4 ordered dither,
        // as 256-colour-era art usually is.
        const int t = kBayer4[y & 3][x & 3] * 8;
        const int sb = (200 * 16) - y * 120 * 16 / std::max(1, skyEnd);
        const int sg = (120 * 16) + x * 60 * 16 / w - y * 40 * 16 / std::max(1, skyEnd);
        const int sr = (60 * 16) + (x + y) * 40 * 16 / (w + h);
        b = ((sb + t) >> 7) << 3;
        g = ((sg + t) >> 7) << 3;
        r = ((sr + t) >> 7) << 3;
      } else if (y < sceneEnd) {
        // Ground: a 16x16 grass tile with a few shades.
        const uint32_t tile = (static_cast<uint32_t>(x & 15) * 7 + static_cast<uint32_t>(y & 15) * 13) % 11;
        b = 40 + (tile < 3 ? 8 : 0), g = 110 + (tile == 5 ? 20 : 0), r = 70 - (tile > 8 ? 10 : 0);
        for (size_t i = 0; i < circles.size(); ++i) {
          if (!Inside(circles[i], x, y)) continue;
          const Circle inner{circles[i].cx, circles[i].cy, circles[i].radius - 2};
          const uint32_t c = circleColor[i];
          if (Inside(inner, x, y)) {
            b = c & 0xFF, g = (c >> 8) & 0xFF, r = (c >> 16) & 0xFF;
          } else {
            b = g = r = 16;  // outline
          }
        }
      } else if (x < w / 2) {
        // Photographic texture: smooth shading plus strong grain.
        const int grain = static_cast<int>(rng.Below(48)) - 24;
        b = 60 + (x * 50 / w) + grain;
        g = 90 + ((y - sceneEnd) * 60 / std::max(1, h - sceneEnd)) + grain / 2 + static_cast<int>(rng.Below(9));
        r = 110 + grain + static_cast<int>(rng.Below(9));
      } else {
        // Dialogue panel: flat fill, border, rows of glyphs.
        const int px0 = x - w / 2, py0 = y - sceneEnd;
        const bool border = px0 < 6 || py0 < 6 || x >= w - 6 || y >= h - 6;
        b = 90, g = 40, r = 30;
        if (border) {
          b = g = r = 200;
        } else if ((py0 % 20) >= 8 && (py0 % 20) < 16 && px0 >= 16 && x < w - 16 &&
                   GlyphPixel(font, px0, (py0 % 20) - 8, static_cast<uint32_t>(py0 / 20) * 977u)) {
          b = g = r = 235;
        }
      }
      uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = Clamp8(b), p[1] = Clamp8(g), p[2] = Clamp8(r);
    }
  }
  return px;
}

std::vector<uint8_t> MakePalettePicture(uint32_t width, uint32_t height) {
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  std::vector<uint8_t> px(static_cast<size_t>(width) * height);
  Rng rng(0x5EED0002);
  const std::vector<uint64_t> font = MakeFont(rng);

  std::vector<Circle> circles;
  for (int i = 0; i < 40; ++i) {
    circles.push_back({static_cast<int>(rng.Below(width)), static_cast<int>(rng.Below(height)),
                       static_cast<int>(16 + rng.Below(std::max(1u, width / 8)))});
  }

  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      // Background in broad horizontal bands.
      int c = 16 + (y * 12 / h);
      // A two-colour dithered band between sky and ground.
      if (y >= h * 30 / 100 && y < h * 36 / 100) {
        const int level = (x * 16 / w);
        c = kBayer4[y & 3][x & 3] < level ? 40 : 41;
      }
      for (size_t i = 0; i < circles.size(); ++i) {
        if (Inside(circles[i], x, y)) c = 64 + static_cast<int>(i);
      }
      // Small noisy patch (foliage).
      if (x >= w * 70 / 100 && x < w * 85 / 100 && y >= h * 70 / 100 && y < h * 80 / 100) {
        c = 128 + static_cast<int>(rng.Below(24));
      }
      // Text panel at the bottom.
      if (y >= h * 88 / 100) {
        const int py0 = y - h * 88 / 100;
        c = 8;
        if ((py0 % 20) >= 8 && (py0 % 20) < 16 && x >= 16 && x < w - 16 &&
            GlyphPixel(font, x, (py0 % 20) - 8, static_cast<uint32_t>(py0 / 20) * 131u)) {
          c = 15;
        }
      }
      px[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(c);
    }
  }
  return px;
}

std::vector<uint8_t> MakeNoise(size_t size, uint64_t seed) {
  std::vector<uint8_t> out(size);
  Rng rng(seed);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const uint64_t v = rng.Next();
    for (int k = 0; k < 8; ++k) out[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  if (i < size) {
    const uint64_t v = rng.Next();
    for (int k = 0; i < size; ++k, ++i) out[i] = static_cast<uint8_t>(v >> (8 * k));
  }
  return out;
}

}  // namespace test_images
