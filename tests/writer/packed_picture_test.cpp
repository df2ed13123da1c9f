// Pictures packed by the writer, opened by the picture plug-in: every pixel
// must be the one the source showed.
#include <gtest/gtest.h>

#include <cstring>

#include "bitmap_builder.h"
#include "packed_picture.h"
#include "plugin_host.h"
#include "test_pictures.h"

namespace {

using test_pictures::PictureRecipe;

struct PngCase {
    const char* what;
    PictureRecipe recipe;
    uint16_t depth;        // asked for; 0: the picture's own
    uint16_t expectBits;   // 0: refused
    const char* message;   // in the refusal or among the notes
};

// Sizes vary so that rows end at every padding.
const PngCase kPngCases[] = {
    {"palette, 200 colours", {3, 8, 200, false, false, 33, 7, 1}, 0, 8, ""},
    {"4-bit palette PNG", {3, 4, 16, false, false, 5, 9, 2}, 0, 8, ""},
    {"2-bit palette PNG, translucent", {3, 2, 4, true, false, 6, 6, 3}, 0, 8, "transparency"},
    {"palette into 4 bits", {3, 8, 16, false, false, 9, 4, 4}, 4, 4, ""},
    {"palette into 1 bit", {3, 1, 2, false, false, 35, 3, 5}, 1, 1, ""},
    {"palette too big for 4 bits", {3, 8, 200, false, false, 17, 17, 6}, 4, 0, "colour"},
    {"translucent palette at 32", {3, 8, 30, true, false, 7, 5, 7}, 32, 32, ""},
    {"1-bit grey", {0, 1, 2, false, false, 31, 2, 8}, 0, 8, ""},
    {"1-bit grey into 1 bit", {0, 1, 2, false, false, 31, 2, 9}, 1, 1, ""},
    {"16-bit grey", {0, 16, 300, false, false, 20, 20, 10}, 0, 8, "16-bit"},
    {"grey with a colour key at 32", {0, 8, 50, false, true, 11, 3, 11}, 32, 32, ""},
    {"grey and alpha", {4, 8, 20, true, false, 3, 8, 12}, 0, 32, ""},
    {"opaque 16-bit grey and alpha at 24", {4, 16, 20, false, false, 6, 2, 13}, 24, 24, ""},
    {"RGB", {2, 8, 5000, false, false, 101, 60, 14}, 0, 24, ""},
    {"16-bit RGB", {2, 16, 500, false, false, 13, 13, 15}, 0, 24, "rounded"},
    {"RGB of 12 colours into 4 bits", {2, 8, 12, false, false, 19, 5, 16}, 4, 4, ""},
    {"RGB of 300 colours into 8 bits", {2, 8, 300, false, false, 40, 40, 17}, 8, 0, "more than 256 colours"},
    {"RGB with a colour key", {2, 8, 40, false, true, 8, 8, 18}, 0, 24, "transparency"},
    {"RGB with a colour key at 32", {2, 8, 40, false, true, 8, 8, 19}, 32, 32, ""},
    {"RGBA", {6, 8, 100, true, false, 21, 4, 20}, 0, 32, ""},
    {"16-bit RGBA", {6, 16, 100, true, false, 4, 21, 21}, 0, 32, ""},
    {"translucent RGBA at 24", {6, 8, 100, true, false, 4, 4, 22}, 24, 0, "transparent"},
    {"opaque RGBA into 8 bits", {6, 8, 77, false, false, 9, 9, 23}, 8, 8, ""},
    {"interlaced RGB", {2, 8, 64, false, false, 37, 23, 24, true}, 0, 24, ""},
    {"16 bits asked for", {2, 8, 64, false, false, 4, 4, 25}, 16, 0, "choose 1, 4, 8, 24 or 32"},
};

TEST(PackedPicture, PngsOpenInThePluginWithTheirOwnPixels) {
    for (const PngCase& test : kPngCases) {
        SCOPED_TRACE(test.what);
        const test_pictures::Source source = test_pictures::MakeSource(test.recipe);
        writer::PackOptions options;
        options.depth = test.depth;
        options.parse = test.recipe.seed % 2 ? writer::LzssParse::Optimal : writer::LzssParse::Greedy;
        options.signature = test.recipe.seed % 3 ? writer::PackedSignature::B1 : writer::PackedSignature::E1;
        try {
            writer::PackedPicture packed = writer::PackPicture(source.png.data(), source.png.size(), options);
            ASSERT_NE(test.expectBits, 0) << "packed, where a refusal was meant";
            EXPECT_EQ(packed.bitCount, test.expectBits);
            EXPECT_EQ(packed.file[0], options.signature == writer::PackedSignature::B1 ? 'B' : 'E');
            test_pictures::ExpectShows(writer_test::GetPictureOf(packed.file), source, test.expectBits);
            std::string notes;
            for (const std::string& note : packed.notes) notes += note + "\n";
            EXPECT_NE(notes.find(test.message), std::string::npos) << notes;
        } catch (const files::ToolError& error) {
            ASSERT_EQ(test.expectBits, 0) << error.what();
            EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
        }
    }
}

TEST(PackedPicture, PreferredDepthIsKeptWhenThePictureFitsIt) {
    const test_pictures::Source few = test_pictures::MakeSource({2, 8, 10, false, false, 7, 7, 30});
    const test_pictures::Source many = test_pictures::MakeSource({2, 8, 400, false, false, 30, 30, 31});
    writer::PackOptions options;
    options.preferredDepth = 8;
    writer::PackedPicture kept = writer::PackPicture(few.png.data(), few.png.size(), options);
    EXPECT_EQ(kept.bitCount, 8);
    test_pictures::ExpectShows(writer_test::GetPictureOf(kept.file), few, 8);
    writer::PackedPicture natural = writer::PackPicture(many.png.data(), many.png.size(), options);
    EXPECT_EQ(natural.bitCount, 24);
    ASSERT_EQ(natural.notes.size(), 1u);
    EXPECT_NE(natural.notes[0].find("not 8"), std::string::npos);
}

TEST(PackedPicture, PlainBitmapsArePackedByteForByteOrRefusedWithTheReason) {
    using bitmap_builder::BitmapRecipe;
    const BitmapRecipe deliverable[] = {{5, 3, 1}, {6, 4, 4, 0, 5}, {13, -9, 8, 0, 40}, {7, 2, 16},
                                        {7, 2, 16, 3}, {3, 3, 24}, {2, -2, 32}, {9, 1, 32, 3}};
    for (const BitmapRecipe& recipe : deliverable) {
        bitmap_builder::Bitmap bitmap = bitmap_builder::BuildBitmap(recipe);
        writer::PackedPicture packed = writer::PackPicture(bitmap.file.data(), bitmap.file.size(), {});
        EXPECT_EQ(packed.bitCount, recipe.bitCount);
        writer_test::PictureDelivery delivery = writer_test::GetPictureOf(packed.file);
        ASSERT_EQ(delivery.result, 0);
        EXPECT_EQ(delivery.info, bitmap.infoPart);
        EXPECT_EQ(delivery.bits, bitmap.bits);
    }

    auto patched = [](BitmapRecipe recipe, size_t offset, uint32_t value) {
        std::vector<uint8_t> file = bitmap_builder::BuildBitmap(recipe).file;
        if (offset < file.size()) bitmap_builder::PutLe32(file, offset, value);
        return file;
    };
    std::vector<uint8_t> shortRows = bitmap_builder::BuildBitmap({8, 8, 24}).file;
    shortRows.resize(shortRows.size() - 1);
    const struct {
        std::vector<uint8_t> file;
        const char* message;
    } refused[] = {
        {patched({4, 4, 24}, 14, 124), "40-byte"},
        {bitmap_builder::BuildBitmap({4, 4, 8, 0, 0, 4}).file, "directly behind the colour table"},
        {shortRows, "pixel rows need"},
        {patched({4, 4, 24}, 28, 2), "not ones the picture plug-in delivers"},
        {patched({4, 4, 24}, 30, 4), "not ones the picture plug-in delivers"},
        {patched({4, 4, 8}, 46, 300), "colour table has 300"},
        {patched({4, 4, 24}, 18, 0), "is not a picture's"},
        {bitmap_builder::PackBitmap(bitmap_builder::BuildBitmap({4, 4, 24}).file), "packed picture already"},
        {{'G', 'I', 'F', '8'}, "neither a PNG nor a bitmap"},
    };
    for (const auto& test : refused) {
        try {
            writer::PackPicture(test.file.data(), test.file.size(), {});
            ADD_FAILURE() << "packed, where '" << test.message << "' was meant";
        } catch (const files::ToolError& error) {
            EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
        }
    }
    writer::PackOptions options;
    options.depth = 8;
    std::vector<uint8_t> plain = bitmap_builder::BuildBitmap({4, 4, 24}).file;
    EXPECT_THROW(writer::PackPicture(plain.data(), plain.size(), options), files::ToolError);
}

}  // namespace
