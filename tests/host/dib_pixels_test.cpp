// What the independent readers cannot judge: RLE data outside the picture,
// odd bit-field masks, refusals; and a property sweep over hostile parts.
// Every kind of well-formed picture is compared pixel by pixel with Pillow or
// ImageMagick by pixels/check_pixels.py.
#include <gtest/gtest.h>
#include <spng.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "bitmap_builder.h"
#include "dib_pixels.h"
#include "png_file.h"
#include "png_readback.h"
#include "test_images.h"

// Largest single allocation while `gTracking` is set: the property test holds
// RenderDib to its pixel bound with it.
namespace {
std::atomic<bool> gTracking{false};
std::atomic<size_t> gLargest{0};
}  // namespace

void* operator new(size_t size) {
    if (gTracking && size > gLargest) gLargest = size;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// GCC takes the free() in a replaced delete for a mismatch with new.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
// The library's own nothrow new would pair with the delete below.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (gTracking && size > gLargest) gLargest = size;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using bitmap_builder::BitmapParts;
using bitmap_builder::BitmapRecipe;
using bitmap_builder::BuildBitmap;
using Bytes = std::vector<uint8_t>;

host::Rendering Render(const bitmap_builder::Bitmap& b, uint64_t maxPixels = host::kMaxPixels) {
    return host::RenderDib(b.infoPart.data(), b.infoPart.size(), b.bits.data(), b.bits.size(), maxPixels);
}

// Entry 0 is red, not black: pixels the stream skips must still come out black.
bitmap_builder::Bitmap RlePicture(int32_t width, int32_t height, Bytes stream) {
    BitmapParts parts;
    parts.colours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    parts.pixels = std::move(stream);
    return BuildBitmap(BitmapRecipe{width, height, 8, 1, 0, 0, 0}, parts);
}

TEST(RenderDibRle, DataOutsideThePictureIsDroppedAndSkippedPixelsAreBlack) {
    const Bytes stream = {
        6, 1,                    // row 0: a run of six in a row of four, clipped, not wrapped
        0, 0,                    // end of line
        0, 5, 2, 3, 2, 3, 2, 0,  // row 1: five literal pixels, one too many, padded
        0, 2, 5, 0,              // delta past the right edge...
        1, 1,                    // ...so this pixel is not drawn
        0, 0,                    // end of line
        1, 2,                    // row 2
        0, 2, 0, 1,              // delta past the top: the picture ends, complete
        1, 3,                    // never read
    };
    const host::Rendering r = Render(RlePicture(4, 3, stream));
    EXPECT_TRUE(r.complete);
    EXPECT_TRUE(r.warnings.empty());
    const host::Pixels& p = r.pixels;
    ASSERT_TRUE(p.indexed);
    EXPECT_EQ(p.bitDepth, 8);
    ASSERT_EQ(p.palette.size(), 5u);  // the table, then the black it lacked
    EXPECT_EQ(p.palette[0].r, 0xFF);
    EXPECT_EQ(p.palette[4].r + p.palette[4].g + p.palette[4].b, 0);
    const Bytes topRowFirst = {2, 4, 4, 4, 2, 3, 2, 3, 1, 1, 1, 1};
    EXPECT_EQ(p.rows, topRowFirst);
}

TEST(RenderDibRle, AStreamThatStopsShortIsIncompleteUnlessItDrewTheLastPixel) {
    const host::Rendering cut = Render(RlePicture(4, 2, {2, 1, 0, 0, 1}));
    EXPECT_FALSE(cut.complete);
    EXPECT_EQ(cut.warnings.size(), 1u);
    EXPECT_EQ(cut.pixels.rows, (Bytes{4, 4, 4, 4, 1, 1, 4, 4}));

    const host::Rendering whole = Render(RlePicture(2, 2, {2, 1, 0, 0, 2, 3}));
    EXPECT_TRUE(whole.complete);
    EXPECT_EQ(whole.pixels.rows, (Bytes{3, 3, 1, 1}));
}

TEST(RenderDibMasks, EachChannelIsTheLowestRunOfItsMaskWidenedOrCutToEightBits) {
    struct Case {
        uint32_t mask, pixel;
        uint8_t red;
    } cases[] = {
        {0x3FF00000, 0x3FF00000, 255}, {0x3FF00000, 0x20000000, 128},  // 10 bits: the top 8
        {0xF000, 0xA000, 0xAA},        {0x8000, 0x8000, 255},          // 4 and 1 bits repeated
        {0x7, 0x5, 0xB6},                                              // 3 bits: 101 10110
        {0xF0F0, 0x30F0, 255},         {0xF0F0, 0xFF00, 0},            // a gap: the low run only
        {0, 0xFFFFFFFF, 0},            {0xFFFFFFFF, 0xAB123456, 0xAB}, // none; all 32
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.mask << " " << c.pixel);
        BitmapParts parts;
        parts.masks = {c.mask, 0, 0};
        parts.pixels = {uint8_t(c.pixel), uint8_t(c.pixel >> 8), uint8_t(c.pixel >> 16), uint8_t(c.pixel >> 24)};
        const host::Rendering r = Render(BuildBitmap(BitmapRecipe{1, 1, 32, 3, 0, 0, 0}, parts));
        EXPECT_EQ(r.pixels.rows, (Bytes{c.red, 0, 0}));
    }
}

TEST(RenderDib, RefusesWhatCannotBeDrawn) {
    const BitmapRecipe refused[] = {
        {0, 3, 24, 0, 0, 0, 0},      {5, 0, 24, 0, 0, 0, 0},      {-5, 3, 24, 0, 0, 0, 0},
        {5, INT32_MIN, 24, 0, 0, 0, 0}, {5, 3, 2, 0, 0, 0, 0},    {5, 3, 24, 3, 0, 0, 0},
        {5, 3, 4, 1, 0, 0, 0},       {5, 3, 8, 2, 0, 0, 0},       {5, -3, 8, 1, 0, 0, 0},
        {5, 3, 16, 4, 0, 0, 0},      {5, 3, 0, 0, 0, 0, 0},       {1 << 14, 1 << 13, 1, 0, 0, 0, 0},
    };
    for (const BitmapRecipe& recipe : refused) {
        SCOPED_TRACE(testing::Message() << recipe.width << "x" << recipe.height << " " << recipe.bitCount
                                        << " bits, compression " << recipe.compression);
        BitmapParts tiny;
        tiny.pixels = Bytes(16, 1);
        EXPECT_THROW(Render(BuildBitmap(recipe, tiny), 1 << 26), files::ToolError);
    }
    // Colour tables and masks the info part does not hold.
    bitmap_builder::Bitmap palette = BuildBitmap(BitmapRecipe{5, 3, 8, 0, 0, 0, 0});
    palette.infoPart.resize(40 + 4 * 255);
    EXPECT_THROW(Render(palette), files::ToolError);
    bitmap_builder::Bitmap masked = BuildBitmap(BitmapRecipe{5, 3, 16, 3, 0, 0, 0});
    masked.infoPart.resize(48);
    EXPECT_THROW(Render(masked), files::ToolError);
}

// Every kind of picture, its parts mangled at random: RenderDib either
// refuses or draws a picture of the size it states, within the pixel bound,
// whose PNG decodes to the same colours.
std::vector<bitmap_builder::Bitmap> Seeds() {
    std::vector<bitmap_builder::Bitmap> seeds;
    for (uint16_t bits : {1, 4, 8}) {
        seeds.push_back(BuildBitmap(BitmapRecipe{13, 6, bits, 0, 0, 0, 0}));
        seeds.push_back(BuildBitmap(BitmapRecipe{7, -5, bits, 0, 3, 0, 0}));
    }
    for (uint16_t bits : {16, 32}) {
        seeds.push_back(BuildBitmap(BitmapRecipe{6, 4, bits, 0, 0, 0, 0}));
        seeds.push_back(BuildBitmap(BitmapRecipe{6, -4, bits, 3, 0, 0, 0}));
    }
    seeds.push_back(BuildBitmap(BitmapRecipe{9, 3, 24, 0, 0, 0, 0}));
    seeds.push_back(RlePicture(4, 3, {3, 1, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 2, 0, 1}));
    BitmapParts rle4;
    rle4.pixels = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 2, 2, 0, 1, 0x70, 0, 1};
    seeds.push_back(BuildBitmap(BitmapRecipe{5, 3, 4, 2, 0, 0, 0}, rle4));
    return seeds;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    if (at + 4 <= b.size()) bitmap_builder::PutLe32(b, at, v);
}

void Put16(Bytes& b, size_t at, uint16_t v) {
    if (at + 2 > b.size()) return;
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Mangle(bitmap_builder::Bitmap& b, test_images::Rng& rng) {
    const uint32_t extremes[] = {0, 1, 2, 3, 255, 256, 1000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFB};
    auto pick = [&] { return rng.Below(2) ? extremes[rng.Below(11)] : static_cast<uint32_t>(rng.Next()); };
    for (uint32_t n = 1 + rng.Below(3); n > 0; --n) {
        switch (rng.Below(8)) {
            case 0: Put32(b.infoPart, 4, pick()); break;   // width
            case 1: Put32(b.infoPart, 8, pick()); break;   // height
            case 2: {  // bit count
                const uint16_t counts[] = {1, 2, 4, 8, 16, 24, 32};
                Put16(b.infoPart, 14, rng.Below(4) ? counts[rng.Below(7)] : static_cast<uint16_t>(rng.Next()));
                break;
            }
            case 3: Put32(b.infoPart, 16, rng.Below(4) ? rng.Below(7) : pick()); break;  // compression
            case 4: Put32(b.infoPart, 32, pick()); break;  // colours used
            case 5: b.infoPart.resize(rng.Below(static_cast<uint32_t>(b.infoPart.size()) + 1)); break;
            case 6: b.bits.resize(rng.Below(static_cast<uint32_t>(b.bits.size()) + 8)); break;
            case 7:
                for (uint8_t& byte : b.bits)
                    if (rng.Below(8) == 0) byte = static_cast<uint8_t>(rng.Next());
                break;
        }
    }
}

using png_readback::DecodeToRgb;
using png_readback::ToRgb;

TEST(RenderDibProperty, HostilePartsGiveAnErrorOrAPictureOfTheStatedSize) {
    constexpr uint64_t kBound = 1 << 14;
    const std::vector<bitmap_builder::Bitmap> seeds = Seeds();
    test_images::Rng rng(0xD1B5);
    int drawn = 0;
    for (int round = 0; round < 4000; ++round) {
        bitmap_builder::Bitmap b = seeds[rng.Below(static_cast<uint32_t>(seeds.size()))];
        Mangle(b, rng);
        // Exactly sized copies, so that the sanitizers see any read past them.
        const Bytes info(b.infoPart), bits(b.bits);
        host::Rendering r;
        gLargest = 0;
        gTracking = true;
        try {
            r = host::RenderDib(info.data(), info.size(), bits.data(), bits.size(), kBound);
        } catch (const files::ToolError&) {
            gTracking = false;
            continue;
        }
        gTracking = false;
        ++drawn;
        const host::Pixels& p = r.pixels;
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << p.width << "x" << p.height);
        ASSERT_LE(uint64_t(p.width) * p.height, kBound);
        // The rows keep room for PNG's filter byte before each.
        ASSERT_LE(gLargest.load(), 3 * kBound + p.height);
        ASSERT_EQ(p.rows.size(), uint64_t(p.width) * p.height * (p.indexed ? 1 : 3));
        ASSERT_EQ(r.complete, r.warnings.empty());
        if (p.indexed) {
            ASSERT_TRUE(p.bitDepth == 1 || p.bitDepth == 2 || p.bitDepth == 4 || p.bitDepth == 8);
            ASSERT_FALSE(p.palette.empty());
            ASSERT_LE(p.palette.size(), 1u << p.bitDepth);
            ASSERT_LT(*std::max_element(p.rows.begin(), p.rows.end()), p.palette.size());
        }
        ASSERT_EQ(DecodeToRgb(host::EncodePng(p)), ToRgb(p));
    }
    EXPECT_GT(drawn, 1000);  // the sweep reaches the drawing code, not just the refusals
}

}  // namespace
