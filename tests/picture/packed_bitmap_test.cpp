#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "bitmap_builder.h"
#include "packed_bitmap.h"
#include "platform_testing.h"

using bitmap_builder::PackedFile;
using bitmap_builder::TempFile;

namespace {

const std::vector<uint8_t> kStream{0x01, 0x41, 0xEE, 0xF2};

TEST(ProbePackedHeader, AcceptsBothSignaturesWithNonzeroLengths) {
    struct Case {
        const char* signature;
        uint32_t packed, unpacked;
        int32_t expected;
    } cases[] = {
        {"B1", 4, 6, 1}, {"E1", 4, 6, 1}, {"BM", 4, 6, 0}, {"b1", 4, 6, 0},
        {"e1", 4, 6, 0}, {"1B", 4, 6, 0}, {"B1", 0, 6, 0}, {"E1", 4, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signature);
        std::vector<uint8_t> bytes = PackedFile(c.signature, c.packed, c.unpacked, kStream);
        EXPECT_EQ(ProbePackedHeader(nullptr, bytes.data()), c.expected);
        TempFile file(bytes);
        EXPECT_EQ(ProbePackedHeader(file.path(), nullptr), c.expected);
    }
}

TEST(ProbePackedHeader, FileTooShortOrMissingIsRefusedAndNothingStaysOpen) {
    platform_testing::LiveCounts before = platform_testing::Live();
    std::vector<uint8_t> bytes = PackedFile("B1", 4, 6, {});
    bytes.pop_back();
    TempFile nineBytes(bytes);
    EXPECT_EQ(ProbePackedHeader(nineBytes.path(), nullptr), 0);
    EXPECT_EQ(ProbePackedHeader(bitmap_builder::MissingPath().c_str(), nullptr), 0);
    EXPECT_EQ(ProbePackedHeader(nullptr, nullptr), 0);
    EXPECT_EQ(platform_testing::Live(), before);
}

TEST(BitCountClass, PaletteBitFieldsAndPlainDepths) {
    for (uint16_t bits = 0; bits <= 40; ++bits) {
        uint8_t expected = PlainClass;
        if (bits == 1 || bits == 4 || bits == 8) expected = PaletteClass;
        if (bits == 16 || bits == 32) expected = BitFieldsClass;
        EXPECT_EQ(ClassOfBitCount(bits), expected) << bits << " bits";
        if (bits >= 1 && bits <= 32) {
            EXPECT_EQ(BitCountClass[bits - 1], expected);
        }
    }
    EXPECT_EQ(ClassOfBitCount(0xFFFF), PlainClass);
}

TEST(InfoPartSize, ByClassAndColourCount) {
    auto size = [](uint16_t bits, uint32_t compression, uint32_t colors) {
        return InfoPartSize(InfoHeaderFields{1, 1, bits, compression, colors});
    };
    EXPECT_EQ(size(1, 0, 0), 48u);
    EXPECT_EQ(size(4, 0, 0), 104u);
    EXPECT_EQ(size(8, 0, 0), 1064u);
    EXPECT_EQ(size(8, 0, 16), 104u);
    EXPECT_EQ(size(1, 0, 300), 1240u);  // a stated count is used even above 2^bits
    EXPECT_EQ(size(16, 3, 0), 52u);
    EXPECT_EQ(size(32, 3, 0), 52u);
    EXPECT_EQ(size(16, 0, 0), 40u);
    EXPECT_EQ(size(32, 1, 0), 40u);
    EXPECT_EQ(size(24, 3, 99), 40u);
    EXPECT_EQ(size(0, 0, 5), 40u);
    // Counts whose table would wrap a 32-bit size keep their true size.
    EXPECT_EQ(size(8, 0, 0x40000000u), 40u + 0x100000000u);
    EXPECT_EQ(size(8, 0, 0xFFFFFFFFu), 40u + 4 * uint64_t{0xFFFFFFFFu});
}

// The refusal bound must never be below what a real stream can produce:
// check it against an exhaustive search over token sequences.
TEST(LargestUnpackedFrom, MatchesTheBestPossibleStream) {
    const int kMax = 200;
    // best[a][t]: most output from a bytes with t tokens left in the group.
    std::vector<std::vector<uint64_t>> best(kMax + 1, std::vector<uint64_t>(9, 0));
    for (int a = 1; a <= kMax; ++a) {
        best[a][0] = best[a - 1][8];
        for (int t = 1; t <= 8; ++t) {
            uint64_t literal = 1 + best[a - 1][t - 1];
            uint64_t match = a >= 2 ? 18 + best[a - 2][t - 1] : 0;
            best[a][t] = std::max(literal, match);
        }
    }
    for (int a = 0; a <= kMax; ++a) EXPECT_EQ(LargestUnpackedFrom(a), best[a][0]) << a << " bytes";
    EXPECT_EQ(LargestUnpackedFrom(0xFFFFFFFFu), 0xFFFFFFFFull / 17 * 144);  // no 32-bit wrap
}

}  // namespace
