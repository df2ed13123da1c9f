// Coded audio: the decode table, the WAVE image made of an entry, and the
// one classification that listing and extraction share.
#include <cmath>

#include "archive_calls.h"
#include "pw_audio.h"

using namespace archive_builder;

TEST(PwDecodeTable, MatchesTheTestSidesCopy) {
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(PwDecodeTable[code], ExpectedSample(static_cast<uint8_t>(code))) << "code " << code;
}

TEST(PwDecodeTable, IsOddSymmetricAlongTheLogarithmicCurve) {
    EXPECT_EQ(PwDecodeTable[0], -32768);
    EXPECT_EQ(PwDecodeTable[128], 0);
    const double mu = 2171;
    for (int s = 1; s <= 127; ++s) {
        double curve = 32767 * (std::pow(1 + mu, s / 127.0) - 1) / mu;
        EXPECT_LT(std::fabs(PwDecodeTable[128 + s] - curve), 1.0) << "s " << s;
        EXPECT_EQ(PwDecodeTable[128 - s], -PwDecodeTable[128 + s]) << "s " << s;
        if (s > 1) {
            EXPECT_GT(PwDecodeTable[128 + s], PwDecodeTable[127 + s]);
        }
    }
}

// Every code, in every lane of the vector and unrolled loops and their tails,
// and through the plain path that processors without the vector one take.
TEST(ConvertPwAudio, DecodesEveryCode) {
    std::vector<uint8_t> codes(256 * 3 + 5);
    for (size_t k = 0; k < codes.size(); ++k) codes[k] = static_cast<uint8_t>(k * 5 + k / 256);
    std::vector<uint8_t> samples(2 * codes.size() + 1, 0xEE);
    ExpandPwCodesPortable(samples.data(), codes.data(), static_cast<uint32_t>(codes.size()));
    for (size_t k = 0; k < codes.size(); ++k)
        ASSERT_EQ(static_cast<int16_t>(ReadLe16(&samples[2 * k])), ExpectedSample(codes[k])) << "code " << +codes[k];
    EXPECT_EQ(samples.back(), 0xEE);

    for (size_t count : {size_t{1024}, size_t{263}, size_t{64}, size_t{7}, size_t{1}}) {
        PwRecipe recipe;
        for (size_t k = 0; k < count; ++k) recipe.codes.push_back(static_cast<uint8_t>(k * 7 + count));
        std::vector<uint8_t> entry = MakePwAudio(recipe);
        std::vector<uint8_t> wave(ConvertPwAudio(nullptr, entry.data()) + 1, 0xEE);
        ASSERT_EQ(wave.size(), 46 + 2 * count + 1);
        EXPECT_EQ(ConvertPwAudio(wave.data(), entry.data()), 0u);
        EXPECT_EQ(wave.back(), 0xEE) << "wrote past the image";
        wave.pop_back();
        EXPECT_EQ(wave, ExpectedWave(entry)) << count << " codes";
    }
}

TEST(ConvertPwAudio, HeaderExamples) {
    struct Example {
        uint16_t channels;
        uint32_t rate, count, byteRate;
        uint16_t blockAlign;
    };
    for (Example e : {Example{1, 22050, 0, 44100, 2}, Example{1, 22050, 1000, 44100, 2},
                      Example{2, 22050, 1000, 88200, 4}, Example{0x8001, 0x80000000u, 3, 0, 2}}) {
        PwRecipe recipe;
        recipe.channels = e.channels;
        recipe.rate = e.rate;
        recipe.codes = Bytes(e.count, 5);
        recipe.trailing = 9;  // bytes after the codes are neither converted nor copied
        recipe.formatTag = 0x55;
        recipe.formatLength = 0x1234;
        recipe.extraLength = 0x4321;
        std::vector<uint8_t> entry = MakePwAudio(recipe);
        uint32_t size = ConvertPwAudio(nullptr, entry.data());
        ASSERT_EQ(size, 46 + 2 * e.count);
        std::vector<uint8_t> wave(size);
        ConvertPwAudio(wave.data(), entry.data());
        const uint8_t* w = wave.data();
        EXPECT_EQ(ReadLe32(w + 4), 38 + 2 * e.count);
        EXPECT_EQ(ReadLe32(w + 28), e.byteRate);
        EXPECT_EQ(ReadLe16(w + 32), e.blockAlign);
        EXPECT_EQ(ReadLe16(w + 34), 16);
        EXPECT_EQ(ReadLe32(w + 42), 2 * e.count);
        // Everything else, including the odd chunk length, format tag and
        // extra length, as the plainly written reference makes it.
        EXPECT_EQ(wave, ExpectedWave(entry));
    }
}

TEST(ClassifyEntry, ConvertsOnlyWholeWellFormedEntries) {
    PwRecipe recipe;
    recipe.codes = Bytes(100, 9);
    const std::vector<uint8_t> audio = MakePwAudio(recipe);
    struct Case {
        const char* what;
        std::vector<uint8_t> head;
        uint32_t packedSize;
        bool isAudio;
        uint32_t outputSize;
    };
    auto with = [&](size_t offset, const char* bytes) {
        std::vector<uint8_t> copy = audio;
        std::memcpy(copy.data() + offset, bytes, 4);
        return copy;
    };
    auto codeCount = [&](uint32_t n) {
        std::vector<uint8_t> copy = audio;
        PutLe32(copy.data() + 42, n);
        return copy;
    };
    const Case cases[] = {
        {"well formed", audio, 146, true, 246},
        {"bytes behind the codes", audio, 1000, true, 246},
        {"codes cut short", audio, 145, false, 145},
        {"header alone, no codes", codeCount(0), 46, true, 46},
        {"shorter than a header", audio, 45, false, 45},
        {"empty", {}, 0, false, 0},
        {"no PW10", with(0, "PW11"), 146, false, 146},
        {"no PCM1", with(8, "PCM2"), 146, false, 146},
        {"no fmt", with(12, "FMT "), 146, false, 146},
        {"no data", with(38, "DATA"), 146, false, 146},
        // A size past the end of the file still classifies by its header,
        // but the WAVE length must fit in 32 bits.
        {"largest that fits", codeCount(0x7FFFFFE8u), 0xFFFFFFF0u, true, 0xFFFFFFFEu},
        {"length would wrap", codeCount(0x7FFFFFE9u), 0xFFFFFFF0u, false, 0xFFFFFFF0u},
    };
    for (const Case& c : cases) {
        uint32_t outputSize = 0xDEAD;
        EXPECT_EQ(ClassifyEntry(c.head.data(), c.packedSize, &outputSize), c.isAudio) << c.what;
        EXPECT_EQ(outputSize, c.outputSize) << c.what;
    }
}
