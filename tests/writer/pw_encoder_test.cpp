// The audio encoder: every 16-bit sample against a brute-force search of the
// test side's own copy of the decode table, and whole entries byte by byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "archive_builder.h"
#include "pw_encoder.h"

using archive_builder::ExpectedSample;

namespace {

// The nearest code by trying all 256; on a tie the value nearer to zero.
uint8_t BruteForceNearest(int sample) {
    static const std::vector<int> table = [] {
        std::vector<int> values;
        for (int code = 0; code < 256; ++code) values.push_back(ExpectedSample(static_cast<uint8_t>(code)));
        return values;
    }();
    int best = 0;
    for (int code = 1; code < 256; ++code) {
        const int distance = std::abs(table[code] - sample), bestDistance = std::abs(table[best] - sample);
        if (distance < bestDistance || (distance == bestDistance && std::abs(table[code]) < std::abs(table[best])))
            best = code;
    }
    return static_cast<uint8_t>(best);
}

}  // namespace

TEST(PwCodes, EverySampleGetsTheNearestCode) {
    std::vector<int16_t> samples;
    for (int s = -32768; s <= 32767; ++s) samples.push_back(static_cast<int16_t>(s));
    std::vector<uint8_t> codes(samples.size() + 1, 0xEE);
    writer::EncodePwCodes(codes.data(), samples.data(), samples.size());
    EXPECT_EQ(codes.back(), 0xEE) << "wrote past the codes";
    for (size_t i = 0; i < samples.size(); ++i) {
        const uint8_t expected = BruteForceNearest(samples[i]);
        ASSERT_EQ(codes[i], expected) << "sample " << samples[i];
        ASSERT_EQ(writer::NearestPwCode(samples[i]), expected) << "sample " << samples[i];
    }
    for (int code = 0; code < 256; ++code) EXPECT_EQ(writer::NearestPwCode(ExpectedSample(code)), code);

    // Every alignment of the codes and every way a count splits into whole
    // blocks and a rest, with guard bytes on both sides.
    for (size_t offset = 1; offset < 70; offset += 3) {
        for (size_t count : {0, 1, 63, 64, 65, 127, 200, 1000}) {
            std::vector<uint8_t> out(offset + count + 1, 0xEE);
            const int16_t* source = samples.data() + 30000 + offset * 9;
            writer::EncodePwCodes(out.data() + offset, source, count);
            EXPECT_EQ(out[offset - 1], 0xEE);
            EXPECT_EQ(out.back(), 0xEE);
            for (size_t i = 0; i < count; ++i) ASSERT_EQ(out[offset + i], writer::NearestPwCode(source[i])) << offset;
        }
    }
}

TEST(EncodePwAudio, FreshEntryByteForByte) {
    const writer::PcmAudio audio{2, 22050, {0, 1, -1, 32767, -32768, 100}, {}};
    const std::vector<uint8_t> expected = {
        'P', 'W', '1', '0', 46, 0, 0, 0,  // the rest of the entry's length
        'P', 'C', 'M', '1', 'f', 'm', 't', ' ', 18, 0, 0, 0,
        1, 0, 2, 0, 0x22, 0x56, 0, 0,  // tag 1, stereo, 22050
        0x44, 0xAC, 0, 0, 2, 0, 8, 0, 0, 0,  // byte rate 44100, block align 2, 8 bits, no extra
        'd', 'a', 't', 'a', 6, 0, 0, 0,
        0x80, 0x81, 0x7F, 0xFF, 0x00, 0xA2,  // 100 lies nearer 103 than 96
        0xAA, 0xBB,
    };
    EXPECT_EQ(writer::EncodePwAudio(audio, nullptr, {0xAA, 0xBB}), expected);
}

// The fields a WAVE cannot carry survive; those derived from what changed follow it.
TEST(EncodePwAudio, KeepsTheOriginalHeaderFields) {
    archive_builder::PwRecipe recipe;  // writes 0xDEADBEEF at 4 and a nonsense byte rate, block align 7 and 8 bits
    recipe.rate = 11025;
    recipe.codes = archive_builder::Bytes(41, 3);
    recipe.trailing = 5;
    recipe.formatLength = 16;
    recipe.formatTag = 0x55;
    recipe.extraLength = 3;
    const std::vector<uint8_t> original = archive_builder::MakePwAudio(recipe);
    const std::vector<uint8_t> trailing(original.end() - 5, original.end());

    writer::PcmAudio same{1, 11025, {}, {}};
    for (uint8_t code : recipe.codes) same.samples.push_back(ExpectedSample(code));
    EXPECT_EQ(writer::EncodePwAudio(same, original.data(), trailing), original);

    // Stereo at twice the rate, ten samples: the header's own fields stay, the
    // audio's are taken, byte rate and block align keep the original's 7 bytes
    // a sample, and a length field that held length - 8 follows the new length.
    const writer::PcmAudio changed{2, 22050, std::vector<int16_t>(10, 0), {}};
    for (bool lengthFollowsRule : {false, true}) {
        std::vector<uint8_t> expected(original.begin(), original.begin() + 46);
        if (lengthFollowsRule) archive_builder::PutLe32(&expected[4], 38 + 41 + 5);
        const std::vector<uint8_t> header = expected;
        if (lengthFollowsRule) archive_builder::PutLe32(&expected[4], 38 + 10 + 5);
        archive_builder::PutLe16(&expected[22], 2);
        archive_builder::PutLe32(&expected[24], 22050);
        archive_builder::PutLe32(&expected[28], 22050 * 14);
        archive_builder::PutLe16(&expected[32], 14);
        archive_builder::PutLe32(&expected[42], 10);
        expected.insert(expected.end(), 10, 0x80);
        expected.insert(expected.end(), trailing.begin(), trailing.end());
        EXPECT_EQ(writer::EncodePwAudio(changed, header.data(), trailing), expected) << lengthFollowsRule;
    }
}

TEST(EncodePwAudio, RefusesWhatNoEntryCanHold) {
    const std::vector<uint8_t> notAHeader(46, 0);
    EXPECT_THROW(writer::EncodePwAudio({0, 22050, {}, {}}), files::ToolError);
    EXPECT_THROW(writer::EncodePwAudio({3, 22050, {1, 2, 3}, {}}), files::ToolError);
    EXPECT_THROW(writer::EncodePwAudio({2, 22050, {1, 2, 3}, {}}), files::ToolError);
    EXPECT_THROW(writer::EncodePwAudio({1, 22050, {1}, {}}, notAHeader.data()), files::ToolError);
}
