#include "test_pictures.h"

#include <gtest/gtest.h>
#include <spng.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "test_images.h"

namespace test_pictures {

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }

// A sample of `depth` bits as an 8-bit value, the way any PNG reader shows it.
uint8_t To8Bits(uint32_t sample, int depth) {
    if (depth == 16) return static_cast<uint8_t>(std::lround(sample * 255.0 / 65535.0));
    return static_cast<uint8_t>(sample * 255 / ((1u << depth) - 1));
}

void PutSample(std::vector<uint8_t>& row, size_t index, uint32_t value, int depth) {
    if (depth == 16) {
        uint16_t v = static_cast<uint16_t>(value);
        std::memcpy(&row[2 * index], &v, 2);  // host order, as libspng takes it
    } else if (depth == 8) {
        row[index] = static_cast<uint8_t>(value);
    } else {
        size_t bit = index * depth;
        row[bit / 8] |= static_cast<uint8_t>(value << (8 - depth - bit % 8));
    }
}

std::vector<uint8_t> EncodePng(const PictureRecipe& recipe, const std::vector<uint8_t>& rows,
                               const std::vector<std::array<uint32_t, 4>>& colours) {
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr = {};
    ihdr.width = recipe.width;
    ihdr.height = recipe.height;
    ihdr.bit_depth = static_cast<uint8_t>(recipe.bitDepth);
    ihdr.color_type = static_cast<uint8_t>(recipe.colorType);
    ihdr.interlace_method = recipe.interlaced ? 1 : 0;
    spng_set_ihdr(ctx.get(), &ihdr);
    spng_trns trns = {};
    if (recipe.colorType == 3) {
        spng_plte plte = {};
        plte.n_entries = static_cast<uint32_t>(colours.size());
        for (size_t k = 0; k < colours.size(); ++k) {
            plte.entries[k] = {static_cast<uint8_t>(colours[k][0]), static_cast<uint8_t>(colours[k][1]),
                               static_cast<uint8_t>(colours[k][2]), 255};
            trns.type3_alpha[k] = static_cast<uint8_t>(colours[k][3]);
        }
        trns.n_type3_entries = plte.n_entries;
        spng_set_plte(ctx.get(), &plte);
        if (recipe.translucent) spng_set_trns(ctx.get(), &trns);
    } else if (recipe.colourKey) {
        trns.gray = static_cast<uint16_t>(colours[0][0]);
        trns.red = static_cast<uint16_t>(colours[0][0]);
        trns.green = static_cast<uint16_t>(colours[0][1]);
        trns.blue = static_cast<uint16_t>(colours[0][2]);
        spng_set_trns(ctx.get(), &trns);
    }
    int error = spng_encode_image(ctx.get(), rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    if (error) throw std::runtime_error(spng_strerror(error));
    size_t size = 0;
    void* png = spng_get_png_buffer(ctx.get(), &size, &error);
    if (!png) throw std::runtime_error(spng_strerror(error));
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(png), static_cast<uint8_t*>(png) + size);
    free(png);
    return bytes;
}

}  // namespace

Source MakeSource(const PictureRecipe& recipe) {
    test_images::Rng rng(recipe.seed);
    const bool palette = recipe.colorType == 3, grey = recipe.colorType == 0 || recipe.colorType == 4;
    const bool alphaChannel = recipe.colorType == 4 || recipe.colorType == 6;
    const int sampleDepth = palette ? 8 : recipe.bitDepth;
    const uint32_t top = sampleDepth == 16 ? 65535 : (1u << sampleDepth) - 1;
    const int channels = palette ? 1 : (grey ? 1 : 3) + (alphaChannel ? 1 : 0);

    std::vector<std::array<uint32_t, 4>> colours;
    for (int k = 0; k < recipe.colours; ++k) {
        std::array<uint32_t, 4> c;
        for (int i = 0; i < 3; ++i) c[i] = rng.Below(top + 1);
        if (grey) c[1] = c[2] = c[0] = top * k / (recipe.colours > 1 ? recipe.colours - 1 : 1);  // distinct levels
        c[3] = recipe.translucent && k % 3 == 1 ? rng.Below(top) : top;
        colours.push_back(c);
    }

    Source source;
    const size_t rowBytes = (size_t{recipe.width} * channels * recipe.bitDepth + 7) / 8;
    std::vector<uint8_t> rows(rowBytes * recipe.height);
    for (uint32_t y = 0; y < recipe.height; ++y) {
        std::vector<uint8_t> row(rowBytes);
        for (uint32_t x = 0; x < recipe.width; ++x) {
            const size_t n = size_t{y} * recipe.width + x;
            // Every colour appears (the first pixels take them in turn), the rest at random.
            const uint32_t k = n < colours.size() ? static_cast<uint32_t>(n) : rng.Below(recipe.colours);
            const std::array<uint32_t, 4>& c = colours[k];
            if (palette) {
                PutSample(row, x, k, recipe.bitDepth);
            } else {
                for (int i = 0; i < channels; ++i)
                    PutSample(row, size_t{x} * channels + i, i == channels - 1 && alphaChannel ? c[3] : c[grey ? 0 : i],
                              recipe.bitDepth);
            }
            Rgba shown{To8Bits(c[0], sampleDepth), To8Bits(c[1], sampleDepth), To8Bits(c[2], sampleDepth), 255};
            if (alphaChannel || (palette && recipe.translucent)) shown.a = To8Bits(c[3], sampleDepth);
            if (recipe.colourKey && !palette && k == 0) shown.a = 0;
            source.pixels.push_back(shown);
        }
        std::memcpy(&rows[rowBytes * y], row.data(), rowBytes);
    }
    source.png = EncodePng(recipe, rows, colours);
    return source;
}

void ExpectShows(const writer_test::PictureDelivery& delivery, const Source& source, uint16_t bits) {
    ASSERT_EQ(delivery.result, 0);
    const std::vector<uint8_t>& info = delivery.info;
    ASSERT_GE(info.size(), 40u);
    const int32_t width = static_cast<int32_t>(Le32(&info[4])), height = static_cast<int32_t>(Le32(&info[8]));
    ASSERT_EQ(info[14] | info[15] << 8, bits);
    ASSERT_EQ(size_t(width) * std::abs(height), source.pixels.size());
    const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
    ASSERT_GE(delivery.bits.size(), stride * std::abs(height));
    const size_t entries = (info.size() - 40) / 4;
    int wrong = 0;
    for (int32_t y = 0; y < std::abs(height); ++y) {
        const uint8_t* row = delivery.bits.data() + stride * (height > 0 ? height - 1 - y : y);
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* bgr;
            uint8_t alpha = 255;
            if (bits <= 8) {
                size_t bit = size_t(x) * bits;
                size_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                ASSERT_LT(index, entries);
                bgr = &info[40 + 4 * index];
            } else {
                bgr = row + size_t(x) * (bits / 8);
                if (bits == 32) alpha = bgr[3];
            }
            Rgba want = source.pixels[size_t(y) * width + x];
            if (bits != 32) want.a = 255;
            if (!(Rgba{bgr[2], bgr[1], bgr[0], alpha} == want) && wrong++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(bgr[2]) << "," << int(bgr[1]) << ","
                              << int(bgr[0]) << "," << int(alpha) << " where " << int(want.r) << "," << int(want.g)
                              << "," << int(want.b) << "," << int(want.a) << " was meant";
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace test_pictures
