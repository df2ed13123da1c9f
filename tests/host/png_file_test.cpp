// The PNG writer judged by independent code: zlib checks every chunk's CRC
// and inflates the image data, libspng decodes the file, and libspng's own
// encoder is the reference for which filter each row takes.
#include <gtest/gtest.h>
#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin_module.h"
#include "png_file.h"
#include "png_readback.h"
#include "test_images.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Context = std::unique_ptr<spng_ctx, void (*)(spng_ctx*)>;

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

struct Chunk {
    std::string type;
    Bytes data;
};

// The chunks of a well-formed file, each CRC checked; fails the test on a
// missing signature, a chunk that runs past the end or bytes after IEND.
std::vector<Chunk> Chunks(const Bytes& png) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<Chunk> chunks;
    EXPECT_TRUE(png.size() >= 8 && std::memcmp(png.data(), kSignature, 8) == 0);
    for (size_t at = 8; at < png.size();) {
        if (png.size() - at < 12 || Be32(&png[at]) > png.size() - at - 12) {
            ADD_FAILURE() << "a chunk runs past the end at " << at;
            return {};
        }
        const uint32_t length = Be32(&png[at]);
        const uint8_t* type = &png[at + 4];
        EXPECT_EQ(Be32(type + 4 + length), crc32(0, type, length + 4)) << "chunk at " << at;
        chunks.push_back({std::string(type, type + 4), Bytes(type + 4, type + 4 + length)});
        at += 12 + length;
    }
    EXPECT_TRUE(!chunks.empty() && chunks.back().type == "IEND" && chunks.back().data.empty());
    return chunks;
}

// The filtered rows: IDAT's data inflated by zlib, which must give exactly
// `expected` bytes.
Bytes FilteredRows(const std::vector<Chunk>& chunks, size_t expected) {
    Bytes compressed;
    for (const Chunk& c : chunks)
        if (c.type == "IDAT") compressed.insert(compressed.end(), c.data.begin(), c.data.end());
    Bytes rows(expected + 1);
    uLongf size = rows.size();
    EXPECT_EQ(uncompress(rows.data(), &size, compressed.data(), compressed.size()), Z_OK);
    EXPECT_EQ(size, expected);
    rows.resize(size);
    return rows;
}

using png_readback::DecodeToRgb;
using png_readback::ToRgb;

// Pixels of the kinds the encoder meets: noise (incompressible, which the
// compressed bound must hold), smooth gradients (photographs) and flat
// areas with edges (screen content); indexed at every depth with any
// number of colours.
host::Pixels RandomPixels(test_images::Rng& rng) {
    host::Pixels p;
    // Now and then rows long enough to shorten the band trials or skip them.
    p.width = 1 + rng.Below(rng.Below(40) == 0 ? 100000 : rng.Below(8) == 0 ? 3000 : 120);
    // Tall enough, now and then, for several bands of rows to take rules of their own.
    p.height = 1 + rng.Below(p.width > 500 ? 4 : rng.Below(4) == 0 ? 300 : 40);
    p.indexed = rng.Below(3) == 0;
    if (p.indexed) {
        const uint8_t depths[] = {1, 2, 4, 8};
        p.bitDepth = depths[rng.Below(4)];
        p.palette.resize(1 + rng.Below(1u << p.bitDepth));
        for (host::Rgb& c : p.palette)
            c = {uint8_t(rng.Next()), uint8_t(rng.Next()), uint8_t(rng.Next())};
    }
    const size_t channels = p.indexed ? 1 : 3;
    const uint32_t kind = rng.Below(3), colours = p.indexed ? uint32_t(p.palette.size()) : 256;
    p.rows.resize(size_t(p.width) * p.height * channels);
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x)
            for (size_t k = 0; k < channels; ++k) {
                uint32_t v;
                if (kind == 0) v = uint32_t(rng.Next());
                else if (kind == 1) v = (x * (k + 1) + y * 3 + rng.Below(3));
                else v = ((x / 7 + y / 5) % 3) * 90 + (rng.Below(50) == 0 ? rng.Below(256) : 0);
                p.rows[(size_t(y) * p.width + x) * channels + k] = uint8_t(v % colours);
            }
    return p;
}

TEST(EncodePngProperty, EveryPictureRoundTripsExactlyAtEveryLevelAndFilterSet) {
    test_images::Rng rng(0x9E57);
    for (int round = 0; round < 400; ++round) {
        const host::Pixels p = RandomPixels(rng);
        host::PngSettings settings;
        settings.level = int(rng.Below(host::kMaxPngLevel + 1));
        settings.filterChoice = int(rng.Below(32)) << 3;  // any set, none included
        settings.trialBands = rng.Below(4) != 0;
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << p.width << "x" << p.height
                                        << (p.indexed ? " indexed " : " RGB ") << int(p.bitDepth) << ", level "
                                        << settings.level << ", filters " << settings.filterChoice
                                        << (settings.trialBands ? ", bands tried" : ""));
        const Bytes png = host::EncodePng(p, settings);

        const std::vector<Chunk> chunks = Chunks(png);
        ASSERT_GE(chunks.size(), 3u);
        ASSERT_EQ(chunks[0].type, "IHDR");
        ASSERT_EQ(chunks[1].type, p.indexed ? "PLTE" : "IDAT");
        if (p.indexed) {
            EXPECT_EQ(chunks[1].data.size(), 3 * p.palette.size());
        }
        const size_t rowBytes = p.indexed ? (size_t(p.width) * p.bitDepth + 7) / 8 : size_t(p.width) * 3;
        const Bytes filtered = FilteredRows(chunks, (rowBytes + 1) * p.height);
        for (size_t y = 0; y < p.height && filtered.size() == (rowBytes + 1) * p.height; ++y) {
            const uint8_t filter = filtered[y * (rowBytes + 1)];
            // Palette rows are never filtered; RGB rows take one of the filters allowed.
            if (p.indexed || settings.filterChoice == 0) ASSERT_EQ(filter, 0);
            else ASSERT_NE(settings.filterChoice & (host::kPngFilterNone << filter), 0) << "row " << y;
        }

        spng_ihdr ihdr = {};
        ASSERT_EQ(DecodeToRgb(png, &ihdr), ToRgb(p));
        EXPECT_EQ(ihdr.bit_depth, p.indexed ? p.bitDepth : 8);
        EXPECT_EQ(ihdr.color_type, p.indexed ? SPNG_COLOR_TYPE_INDEXED : SPNG_COLOR_TYPE_TRUECOLOR);
    }
}

// libspng, left to choose among the same filters by the same rule (the
// smallest sum of magnitudes, the first on a tie), must filter every row as
// EncodePng did without its band trials: the inflated image data of the two
// files are equal.
Bytes LibspngOwnPng(const host::Pixels& p, int filters) {
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, filters);
    spng_ihdr ihdr = {p.width, p.height, 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
    spng_set_ihdr(ctx.get(), &ihdr);
    if (spng_encode_image(ctx.get(), p.rows.data(), p.rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0) return {};
    size_t size = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx.get(), &size, &error);
    Bytes bytes(static_cast<uint8_t*>(png), static_cast<uint8_t*>(png) + size);
    std::free(png);
    return bytes;
}

TEST(EncodePng, FiltersEachRowAsLibspngWould) {
    static_assert(int(host::kPngFilterNone) == int(SPNG_FILTER_CHOICE_NONE) &&
                      int(host::kPngFilterPaeth) == int(SPNG_FILTER_CHOICE_PAETH) &&
                      int(host::kPngAllFilters) == int(SPNG_FILTER_CHOICE_ALL),
                  "the same bits as libspng's");
    host::Pixels p;
    p.width = 301;  // odd, so that rows and pixels do not line up with vectors
    p.height = 97;
    const Bytes bgr = test_images::MakeTruecolorPicture(p.width, p.height);
    for (size_t i = 0; i < bgr.size(); i += 3) p.rows.insert(p.rows.end(), {bgr[i + 2], bgr[i + 1], bgr[i]});
    // And rows of noise, where Paeth and average win rows too.
    test_images::Rng rng(7);
    for (size_t i = p.rows.size() / 2; i < p.rows.size(); i += 1 + rng.Below(5)) p.rows[i] = uint8_t(rng.Next());
    const int sets[] = {SPNG_FILTER_CHOICE_ALL, SPNG_FILTER_CHOICE_SUB | SPNG_FILTER_CHOICE_UP | SPNG_FILTER_CHOICE_AVG,
                        SPNG_FILTER_CHOICE_NONE | SPNG_FILTER_CHOICE_PAETH, SPNG_FILTER_CHOICE_UP};
    const size_t size = (size_t(p.width) * 3 + 1) * p.height;
    for (int filters : sets) {
        SCOPED_TRACE(filters);
        host::PngSettings settings;
        settings.filterChoice = filters;
        settings.trialBands = false;
        const Bytes ours = host::EncodePng(p, settings);
        EXPECT_EQ(FilteredRows(Chunks(ours), size), FilteredRows(Chunks(LibspngOwnPng(p, filters)), size));
        EXPECT_EQ(DecodeToRgb(ours), p.rows);
    }
}

// Drawn pictures are where the smallest sum of magnitudes loses: the
// generated picture (dithered sky, tiled ground, text) and rows of a
// gradient whose slope changes row by row. Their bands take their rules by
// trial: whole bands unfiltered or Sub, a file that round-trips, and from
// level 3 up (below that, the trials guess no better than the rule) one no
// larger than the smallest-sum rule gives.
TEST(EncodePng, BandsOfDrawnPicturesTakeTheRuleTheirTrialCompressesSmallest) {
    host::Pixels p;
    p.width = 640;
    p.height = 5 * 64 + 17;
    const Bytes bgr = test_images::MakeTruecolorPicture(p.width, 4 * 64);
    for (size_t i = 0; i < bgr.size(); i += 3) p.rows.insert(p.rows.end(), {bgr[i + 2], bgr[i + 1], bgr[i]});
    test_images::Rng rng(11);
    while (p.rows.size() < size_t(p.width) * 3 * p.height) {
        const uint32_t slope = rng.Below(7), start = rng.Below(256);
        for (uint32_t x = 0; x < p.width * 3; ++x) p.rows.push_back(uint8_t(start + (x / 3) * slope + x % 3 * 50));
    }
    const size_t rowBytes = size_t(p.width) * 3, size = (rowBytes + 1) * p.height;
    for (int level = 3; level <= host::kMaxPngLevel; level += 2) {
        SCOPED_TRACE(level);
        host::PngSettings settings;
        settings.level = level;
        const Bytes banded = host::EncodePng(p, settings);
        settings.trialBands = false;
        const Bytes rowByRow = host::EncodePng(p, settings);
        EXPECT_LE(banded.size(), rowByRow.size());
        EXPECT_EQ(DecodeToRgb(banded), p.rows);
        const Bytes rows = FilteredRows(Chunks(banded), size);
        ASSERT_EQ(rows.size(), size);
        int uniform = 0;  // bands whose rows all took no filter, or all Sub
        for (uint32_t first = 0; first < p.height; first += 64) {
            const uint8_t filter = rows[first * (rowBytes + 1)];
            bool same = filter <= 1;
            for (uint32_t y = first; y < std::min(p.height, first + 64); ++y) same &= rows[y * (rowBytes + 1)] == filter;
            uniform += same;
        }
        EXPECT_GE(uniform, 2);
    }
}

TEST(EncodePng, RefusesBrokenPixelsAndLevelsWithTheHostsErrors) {
    host::Pixels p;
    p.width = 4;
    p.height = 2;
    p.rows.assign(4 * 2 * 3, 0);
    host::PngSettings settings;
    for (int level : {-2, host::kMaxPngLevel + 1}) {
        settings.level = level;
        EXPECT_THROW(host::EncodePng(p, settings), files::ToolError);
    }
    p.rows.pop_back();
    EXPECT_THROW(host::EncodePng(p), files::ToolError);
    p.rows.assign(8, 0);
    p.indexed = true;
    p.bitDepth = 1;
    p.palette.resize(3);  // more colours than one bit can name
    EXPECT_THROW(host::EncodePng(p), files::ToolError);
}

}  // namespace
