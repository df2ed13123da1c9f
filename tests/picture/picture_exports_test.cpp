#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "picture_calls.h"
#include "picture_version.h"
#include "platform_testing.h"

using namespace bitmap_builder;

namespace {

// Offsets of info header fields in the unpacked image.
constexpr size_t kHeightAt = 14 + 8;
constexpr size_t kColorsUsedAt = 14 + 32;

// The cutting rule itself is the frame's; here, this module's table.
TEST(GetPluginInfo, GivesTheModuleStrings) {
    const char* strings[] = {"00IN", ZORVPICT_DESCRIPTION, "*.bmp", "ZORVAN BMP Graphics"};
    EXPECT_EQ(std::string(ZORVPICT_DESCRIPTION).rfind("ZORVAN BMP Import Filter ", 0), 0u);
    for (int32_t index = 0; index < 4; ++index) {
        char buffer[100];
        std::memset(buffer, 'x', sizeof buffer);
        int32_t length = static_cast<int32_t>(std::strlen(strings[index]));
        EXPECT_EQ(GetPluginInfo(index, buffer, -1), length) << "negative means large";
        EXPECT_STREQ(buffer, strings[index]);
        EXPECT_EQ(buffer[length + 1], 'x') << "bytes behind the terminator are kept";
    }
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetPluginInfo(0, buffer, 3), 2);
    EXPECT_EQ(std::memcmp(buffer, "00\0x", 4), 0);
    EXPECT_EQ(GetPluginInfo(1, buffer, 0), 0);
    EXPECT_EQ(GetPluginInfo(4, buffer, sizeof buffer), 0);
    EXPECT_EQ(std::memcmp(buffer, "00\0x", 4), 0);
}

TEST(IsSupported, ProbesThePathOrTheMemoryTheProbeWordPointsAt) {
    platform_testing::LiveCounts before = platform_testing::Live();
    std::vector<uint8_t> b1 = PackBitmap(BuildBitmap({}).file, 'B');
    std::vector<uint8_t> e1 = PackBitmap(BuildBitmap({}).file, 'E');
    std::vector<uint8_t> plain = BuildBitmap({}).file;
    TempFile b1File(b1), e1File(e1), plainFile(plain);
    std::string missing = MissingPath();

    // Below 0x10000 the word carries nothing: the file is opened by name.
    for (uintptr_t word : {uintptr_t{0}, uintptr_t{0xFFFF}}) {
        EXPECT_EQ(IsSupported(b1File.path(), word), 1);
        EXPECT_EQ(IsSupported(e1File.path(), word), 1);
        EXPECT_EQ(IsSupported(plainFile.path(), word), 0);
        EXPECT_EQ(IsSupported(missing.c_str(), word), 0);
    }
    // Otherwise it is the address of the file's first bytes and the name is not used.
    EXPECT_EQ(IsSupported(missing.c_str(), reinterpret_cast<uintptr_t>(b1.data())), 1);
    EXPECT_EQ(IsSupported(b1File.path(), reinterpret_cast<uintptr_t>(plain.data())), 0);
    EXPECT_EQ(platform_testing::Live(), before);
}

class PictureEntryPoints : public ::testing::TestWithParam<Source> {};

INSTANTIATE_TEST_SUITE_P(BothModes, PictureEntryPoints,
                         ::testing::Values(Source::File, Source::Memory),
                         [](const ::testing::TestParamInfo<Source>& info) {
                             return std::string(SourceName(info.param));
                         });

TEST_P(PictureEntryPoints, DeliversEveryDepthWholeAndDescribesIt) {
    struct Case {
        const char* name;
        BitmapRecipe recipe;
        size_t infoSize;
    } cases[] = {
        {"1-bit", {7, 3, 1}, 48},
        {"4-bit", {5, 3, 4}, 104},
        {"4-bit, 3 colours", {5, 2, 4, 0, 3}, 52},
        {"8-bit", {9, 4, 8}, 1064},
        {"8-bit, 16 colours", {9, 4, 8, 0, 16}, 104},
        {"8-bit top-down", {9, -4, 8}, 1064},
        {"2-bit, plain", {8, 2, 2}, 40},
        {"16-bit", {6, 3, 16}, 40},
        {"16-bit masks", {6, 3, 16, 3}, 52},
        {"24-bit", {5, 3, 24}, 40},
        {"24-bit top-down", {5, -3, 24}, 40},
        {"24-bit large", {300, 200, 24}, 40},
        {"32-bit", {4, 3, 32}, 40},
        {"32-bit masks", {4, 3, 32, 3}, 52},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap bitmap = BuildBitmap(c.recipe);
        ASSERT_EQ(bitmap.infoPart.size(), c.infoSize);
        PictureInput input(PackBitmap(bitmap.file), GetParam());
        // The info part keeps a negative height: only the record reports it positive.
        Delivery delivery = CallGetPicture(input);
        ASSERT_EQ(delivery.result, Ok);
        EXPECT_EQ(delivery.info, bitmap.infoPart);
        EXPECT_EQ(delivery.bits, bitmap.bits);
        PictureInfoRecord record;
        ASSERT_EQ(CallGetPictureInfo(input, &record), Ok);
        EXPECT_TRUE(SameRecord(record, ExpectedRecord(c.recipe.width, std::abs(c.recipe.height),
                                                      c.recipe.bitCount)));
    }
}

TEST_P(PictureEntryPoints, SecondSignatureAndStrayFlagBitsChangeNothing) {
    Bitmap bitmap = BuildBitmap({6, 5, 8, 0, 20});
    PictureInput input(PackBitmap(bitmap.file, 'E'), GetParam());
    Delivery delivery = CallGetPicture(input.source(), input.length(), input.flags() | 0xFFFFFFFEu);
    ASSERT_EQ(delivery.result, Ok);
    EXPECT_EQ(delivery.info, bitmap.infoPart);
    EXPECT_EQ(delivery.bits, bitmap.bits);
}

TEST_P(PictureEntryPoints, BitsAreEverythingBehindTheInfoPartWhateverBfOffBitsSays) {
    BitmapRecipe recipe{5, 3, 8, 0, 2};
    recipe.gap = 6;
    recipe.offBits = 9999;
    Bitmap bitmap = BuildBitmap(recipe);
    Delivery delivery = CallGetPicture(PictureInput(PackBitmap(bitmap.file), GetParam()));
    ASSERT_EQ(delivery.result, Ok);
    EXPECT_EQ(delivery.info, bitmap.infoPart);
    EXPECT_EQ(delivery.bits, bitmap.bits);
    EXPECT_EQ(delivery.bits.size(), 6u + 8 * 3);
}

TEST_P(PictureEntryPoints, ProgressIsNeverCalled) {
    struct Counter {
        static int32_t WINAPI Abort(int32_t, int32_t, intptr_t userData) {
            ++*reinterpret_cast<int*>(userData);
            return 1;
        }
    };
    int calls = 0;
    Bitmap bitmap = BuildBitmap({400, 300, 24});
    PictureInput input(PackBitmap(bitmap.file), GetParam());
    HGLOBAL info = nullptr, bits = nullptr;
    ASSERT_EQ(GetPicture(input.source(), input.length(), input.flags(), &info, &bits,
                         &Counter::Abort, reinterpret_cast<intptr_t>(&calls)),
              Ok);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(TakeHandle(info), bitmap.infoPart);
    EXPECT_EQ(TakeHandle(bits), bitmap.bits);
}

// A stream whose last byte is missing cannot fill the image it announces.
TEST_P(PictureEntryPoints, StreamEndingBeforeTheImageIsFullIsRefused) {
    std::vector<uint8_t> packed = PackBitmap(BuildBitmap({5, 3, 24}).file);
    packed.pop_back();
    PutLe32(packed, 2, static_cast<uint32_t>(packed.size() - 10));
    PictureInput input(packed, GetParam());
    PictureInfoRecord record;
    EXPECT_EQ(CallGetPictureInfo(input, &record), UnsupportedFormat);
    EXPECT_EQ(CallGetPicture(input).result, UnsupportedFormat);
}

TEST_P(PictureEntryPoints, ImageTooShortForItsHeadersIsRefused) {
    std::vector<uint8_t> headersOnly = BuildBitmap({0, 0, 24}).file;  // 54 bytes, no bits
    std::vector<uint8_t> tableOnly = BuildBitmap({0, 0, 8}).file;     // 14 + 1064 bytes
    std::vector<uint8_t> manyColours = BuildBitmap({5, 3, 8}).file;
    std::vector<uint8_t> wrappingColours = manyColours;
    PutLe32(manyColours, kColorsUsedAt, 0xFFFFFFFFu);
    PutLe32(wrappingColours, kColorsUsedAt, 0x40000000u);  // 4 x count wraps to 0 in 32 bits
    struct Case {
        const char* name;
        std::vector<uint8_t> image;
        int32_t info, picture;
    } cases[] = {
        {"53 bytes", {headersOnly.begin(), headersOnly.end() - 1}, UnsupportedFormat, UnsupportedFormat},
        {"54 bytes", headersOnly, Ok, NoMemory},  // an empty bits part cannot be locked
        {"table cut", {tableOnly.begin(), tableOnly.end() - 1}, UnsupportedFormat, UnsupportedFormat},
        {"table whole", tableOnly, Ok, NoMemory},
        {"2^32-1 colours", manyColours, UnsupportedFormat, UnsupportedFormat},
        {"2^30 colours", wrappingColours, UnsupportedFormat, UnsupportedFormat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureInput input(PackBitmap(c.image), GetParam());
        PictureInfoRecord record;
        EXPECT_EQ(CallGetPictureInfo(input, &record), c.info);
        EXPECT_EQ(CallGetPicture(input).result, c.picture);
    }
}

TEST_P(PictureEntryPoints, HeightWithoutPositiveCounterpartIsNotDescribedButDelivered) {
    Bitmap bitmap = BuildBitmap({5, 3, 24});
    PutLe32(bitmap.file, kHeightAt, 0x80000000u);
    PutLe32(bitmap.infoPart, 8, 0x80000000u);
    PictureInput input(PackBitmap(bitmap.file), GetParam());
    PictureInfoRecord record;
    EXPECT_EQ(CallGetPictureInfo(input, &record), UnsupportedFormat);
    Delivery delivery = CallGetPicture(input);
    ASSERT_EQ(delivery.result, Ok);
    EXPECT_EQ(delivery.info, bitmap.infoPart);
}

// 40 packed bytes yield at most 2 x 144 + 37: two groups of eight longest
// matches, then a flag byte, two matches and a literal.
std::vector<uint8_t> LongestStream() {
    std::vector<uint8_t> stream;
    for (int group = 0; group < 2; ++group) {
        stream.push_back(0x00);
        for (int match = 0; match < 8; ++match) stream.insert(stream.end(), {0x00, 0x0F});
    }
    stream.insert(stream.end(), {0x04, 0x00, 0x0F, 0x00, 0x0F, 0x00});
    return stream;
}

TEST_P(PictureEntryPoints, AnnouncedLengthIsHeldToWhatTheStreamCanYield) {
    std::vector<uint8_t> stream = LongestStream();
    ASSERT_EQ(stream.size(), 40u);
    PictureInput fits(PackedFile("B1", 40, 325, stream), GetParam());
    Delivery delivery = CallGetPicture(fits);
    ASSERT_EQ(delivery.result, Ok);
    EXPECT_EQ(delivery.info, std::vector<uint8_t>(40, 0));
    EXPECT_EQ(delivery.bits, std::vector<uint8_t>(325 - 54, 0));

    // Beyond that, or absurdly long, is refused before anything is allocated.
    for (uint32_t unpacked : {326u, 0x7FFF0000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(unpacked);
        PictureInput hostile(PackedFile("B1", 40, unpacked, stream), GetParam());
        platform_testing::ResetFaults();
        PictureInfoRecord record;
        EXPECT_EQ(CallGetPictureInfo(hostile, &record), UnsupportedFormat);
        EXPECT_EQ(CallGetPicture(hostile).result, UnsupportedFormat);
        EXPECT_EQ(platform_testing::CallsMade(platform_testing::Call::Alloc), 0);
    }
}

TEST(GetPictureMemory, ImageShorterThanTheHeaderIsNotRead) {
    std::vector<uint8_t> packed = PackBitmap(BuildBitmap({}).file);
    for (int32_t length : {9, 1, 0, -1, INT32_MIN}) {
        SCOPED_TRACE(length);
        // Exactly the bytes the host claims to have (one for the odd lengths).
        std::vector<uint8_t> image(packed.begin(), packed.begin() + (length > 0 ? length : 1));
        const char* source = reinterpret_cast<const char*>(image.data());
        PictureInfoRecord record;
        EXPECT_EQ(CallGetPictureInfo(source, length, SourceInMemory, &record), UnsupportedFormat);
        EXPECT_EQ(CallGetPicture(source, length, SourceInMemory).result, UnsupportedFormat);
    }
}

TEST(GetPictureFile, ReadsFromTheStartWhateverTheLengthSays) {
    Bitmap bitmap = BuildBitmap({7, 2, 4});
    std::vector<uint8_t> packed = PackBitmap(bitmap.file);
    packed.insert(packed.end(), {1, 2, 3});  // bytes behind the stream are not read
    TempFile file(packed);
    for (int32_t length : {0, 5, -1, 123456}) {
        SCOPED_TRACE(length);
        Delivery delivery = CallGetPicture(file.path(), length, 0);
        ASSERT_EQ(delivery.result, Ok);
        EXPECT_EQ(delivery.info, bitmap.infoPart);
        EXPECT_EQ(delivery.bits, bitmap.bits);
    }
}

TEST(GetPictureFile, FileShorterThanItsStreamOrMissingIsRefused) {
    std::vector<uint8_t> packed = PackBitmap(BuildBitmap({}).file);
    TempFile exact(packed);
    std::vector<uint8_t> cut(packed.begin(), packed.end() - 1);
    TempFile oneShort(cut);
    // A length near 2^32 must not wrap to a small file size.
    std::vector<uint8_t> huge = packed;
    PutLe32(huge, 2, 0xFFFFFFFFu);
    TempFile hugeLength(huge);
    std::string missing = MissingPath();

    PictureInfoRecord record;
    EXPECT_EQ(CallGetPictureInfo(exact.path(), 0, 0, &record), Ok);
    EXPECT_EQ(CallGetPicture(exact.path(), 0, 0).result, Ok);
    for (const char* path : {oneShort.path(), hugeLength.path(), missing.c_str()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(CallGetPictureInfo(path, 0, 0, &record), UnsupportedFormat);
        EXPECT_EQ(CallGetPicture(path, 0, 0).result, UnsupportedFormat);
    }
}

}  // namespace

namespace {

// No record or no handle slot: refused before anything is opened or
// allocated, and the slot that was given keeps what the host put there.
TEST(PictureExports, NullRecordOrSlotIsRefusedUntouched) {
    Bitmap bitmap = BuildBitmap({});
    std::vector<uint8_t> packed = PackBitmap(bitmap.file);
    for (Source source : {Source::File, Source::Memory}) {
        SCOPED_TRACE(SourceName(source));
        PictureInput input(packed, source);
        const platform_testing::LiveCounts before = platform_testing::Live();
        platform_testing::ResetFaults();
        EXPECT_EQ(GetPictureInfo(input.source(), input.length(), input.flags(), nullptr), NotImplemented);
        HGLOBAL slot = SlotSentinel();
        EXPECT_EQ(GetPicture(input.source(), input.length(), input.flags(), nullptr, &slot, nullptr, 0),
                  NotImplemented);
        EXPECT_EQ(GetPicture(input.source(), input.length(), input.flags(), &slot, nullptr, nullptr, 0),
                  NotImplemented);
        EXPECT_EQ(slot, SlotSentinel());
        EXPECT_EQ(platform_testing::CallsMade(platform_testing::Call::Open), 0);
        EXPECT_EQ(platform_testing::CallsMade(platform_testing::Call::Alloc), 0);
        EXPECT_EQ(platform_testing::Live(), before);
    }
}

// A file of 4 GiB and more is judged by its real size, not by the low 32
// bits of it (here 5, far less than the stream it holds).
TEST(GetPictureFile, FileOfFourGigabytesAndMoreIsJudgedByItsRealSize) {
    Bitmap bitmap = BuildBitmap({6, 4, 8});
    TempFile file(PackBitmap(bitmap.file));
    // Sparse: the filesystem stores only the written bytes.
    ASSERT_EQ(truncate(file.path(), (off_t{1} << 32) + 5), 0);
    PictureInfoRecord record;
    EXPECT_EQ(CallGetPictureInfo(file.path(), 0, 0, &record), Ok);
    Delivery delivery = CallGetPicture(file.path(), 0, 0);
    ASSERT_EQ(delivery.result, Ok);
    EXPECT_EQ(delivery.bits, bitmap.bits);
}

}  // namespace
