// Every packed picture is checked by the picture plug-in's own decoder, as
// zorv supplies the check: what the plug-in delivers from it must be the
// bitmap that was packed, and a check that fails stops the packing.
#include <gtest/gtest.h>

#include <algorithm>

#include "bitmap_builder.h"
#include "packed_picture.h"
#include "plugin_host.h"
#include "test_pictures.h"

namespace {

// The check as zorv makes it, here through the test host's exports.
bool DeliversTheBitmap(const std::vector<uint8_t>& packed, const uint8_t* bitmap, size_t size, int* calls) {
    ++*calls;
    const writer_test::PictureDelivery delivery = writer_test::GetPictureOf(packed);
    // Our bitmaps hold nothing past their rows: the delivery covers them whole.
    if (delivery.result != 0 || size < 14 || delivery.info.size() + delivery.bits.size() != size - 14) return false;
    return std::equal(delivery.info.begin(), delivery.info.end(), bitmap + 14) &&
           std::equal(delivery.bits.begin(), delivery.bits.end(), bitmap + 14 + delivery.info.size());
}

TEST(PictureCheck, ThePluginDeliversEveryPictureThePackerWrites) {
    int calls = 0;
    writer::PackOptions options;
    options.check = [&calls](const std::vector<uint8_t>& packed, const uint8_t* bitmap, size_t size) {
        return DeliversTheBitmap(packed, bitmap, size, &calls);
    };
    for (uint16_t bits : {1, 4, 8, 24, 32}) {
        const std::vector<uint8_t> plain = bitmap_builder::BuildBitmap({7, 5, bits}).file;
        for (writer::LzssParse parse : {writer::LzssParse::Optimal, writer::LzssParse::Greedy}) {
            options.parse = parse;
            EXPECT_NO_THROW(writer::PackPicture(plain.data(), plain.size(), options)) << bits << " bits";
        }
    }
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const int colourTypes[] = {0, 2, 3, 6};
        const test_pictures::Source source =
            test_pictures::MakeSource({colourTypes[seed - 1], 8, 5, false, false, 9, 6, seed});
        EXPECT_NO_THROW(writer::PackPicture(source.png.data(), source.png.size(), options)) << "seed " << seed;
    }
    EXPECT_EQ(calls, 14);

    // A check that refuses stops the packing with a message, not a picture.
    options.check = [](const std::vector<uint8_t>&, const uint8_t*, size_t) { return false; };
    const std::vector<uint8_t> plain = bitmap_builder::BuildBitmap({3, 3, 24}).file;
    EXPECT_THROW(writer::PackPicture(plain.data(), plain.size(), options), files::ToolError);
}

}  // namespace
