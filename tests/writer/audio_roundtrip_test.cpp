// Coded audio through the archive module, loaded as a host loads it: what
// the encoder writes the module delivers back as the same samples, and what
// the module delivers the reader reads and the encoder turns back into the
// very entry it came from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "archive_builder.h"
#include "plugin_frame.h"
#include "plugin_host.h"
#include "pw_encoder.h"
#include "wave_builder.h"
#include "wave_file.h"

using namespace archive_builder;

namespace {

// What the module delivers for each entry of an archive that holds them.
std::vector<std::vector<uint8_t>> DeliverThroughArchive(const std::vector<std::vector<uint8_t>>& entries) {
    ArchiveRecipe recipe;
    for (size_t i = 0; i < entries.size(); ++i) recipe.entries.push_back({"VOICE" + std::to_string(i) + ".PW", entries[i]});
    ArchiveFolder folder;
    const std::string path = folder.Write("VOICE.DAT", BuildArchive(recipe));
    std::vector<std::vector<uint8_t>> delivered;
    for (uint32_t position : EntryPositions(recipe)) delivered.push_back(writer_test::GetEntry(path, position));
    return delivered;
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

// A stereo WAVE holding every table value and a spread of others: encoded,
// stored and delivered, table values come back exact and the rest as the
// nearest value the table has; the delivered WAVE is an ordinary one.
TEST(AudioRoundTrip, WaveThroughEncoderAndModuleGivesTheNearestSamples) {
    std::vector<int64_t> values;
    for (int code = 0; code < 256; ++code) values.push_back(ExpectedSample(static_cast<uint8_t>(code)));
    const std::vector<uint8_t> noise = Bytes(2 * 3000, 77);
    for (size_t i = 0; i < noise.size(); i += 2) values.push_back(static_cast<int16_t>(noise[i] | (noise[i + 1] << 8)));
    const std::vector<uint8_t> file = wave_builder::MakeWave(
        {{"fmt ", wave_builder::FormatBody(1, 2, 32000, 16)}, {"data", wave_builder::PackSamples(values, 2)}});

    const writer::PcmAudio source = writer::ReadWave(file.data(), file.size());
    const std::vector<std::vector<uint8_t>> delivered = DeliverThroughArchive({writer::EncodePwAudio(source)});
    ASSERT_EQ(delivered.size(), 1u);
    const std::vector<uint8_t>& wave = delivered[0];

    ASSERT_EQ(wave.size(), 46 + 2 * values.size());
    EXPECT_EQ(Le32(&wave[4]), wave.size() - 8);
    EXPECT_EQ(Le32(&wave[16]), 18u);  // format body 20..37, data at 38: the lengths add up
    EXPECT_EQ(Le16(&wave[20]), 1);
    EXPECT_EQ(Le16(&wave[36]), 0);
    const writer::PcmAudio back = writer::ReadWave(wave.data(), wave.size());
    EXPECT_EQ(back.channels, 2);
    EXPECT_EQ(back.sampleRate, 32000u);
    ASSERT_EQ(back.samples.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const int64_t wanted = values[i], got = back.samples[i];
        if (i < 256) {
            ASSERT_EQ(got, wanted) << "table value of code " << i;
        }
        for (int code = 0; code < 256; ++code)
            ASSERT_LE(std::llabs(got - wanted), std::llabs(ExpectedSample(static_cast<uint8_t>(code)) - wanted))
                << "sample " << wanted << " came back as " << got;
    }
}

// Stored entries with odd headers (format lengths 16, 18, 20 and others, odd
// extra lengths, bytes after the codes): the module's WAVE reads back to
// the decoded codes, and re-encoding with the entry's header and trailing
// bytes gives the entry itself.
TEST(AudioRoundTrip, DeliveredWavesReadBackAndReencodeToTheStoredEntry) {
    std::vector<std::vector<uint8_t>> entries;
    for (uint32_t formatLength : {16u, 18u, 20u, 0u, 0x1234u}) {
        PwRecipe recipe;
        recipe.channels = formatLength == 20 ? 2 : 1;
        recipe.rate = 8000 + formatLength;
        recipe.codes = Bytes(formatLength == 0 ? 0 : 2 * formatLength + 2, formatLength);
        recipe.formatLength = formatLength;
        recipe.extraLength = static_cast<uint16_t>(formatLength == 16 ? 0 : formatLength % 7 | 1);
        recipe.trailing = formatLength % 5;
        entries.push_back(MakePwAudio(recipe));
    }
    const std::vector<std::vector<uint8_t>> delivered = DeliverThroughArchive(entries);
    ASSERT_EQ(delivered.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::vector<uint8_t>& entry = entries[i];
        SCOPED_TRACE("format length " + std::to_string(Le32(&entry[16])));
        ASSERT_EQ(delivered[i], ExpectedWave(entry));
        const writer::PcmAudio audio = writer::ReadWave(delivered[i].data(), delivered[i].size());
        EXPECT_EQ(audio.channels, Le16(&entry[22]));
        EXPECT_EQ(audio.sampleRate, Le32(&entry[24]));
        ASSERT_EQ(audio.samples.size(), Le32(&entry[42]));
        for (size_t k = 0; k < audio.samples.size(); ++k) ASSERT_EQ(audio.samples[k], ExpectedSample(entry[46 + k]));
        const std::vector<uint8_t> trailing(entry.begin() + 46 + audio.samples.size(), entry.end());
        EXPECT_EQ(writer::EncodePwAudio(audio, entry.data(), trailing), entry);
    }
}
