// ReadWave over every accepted sample format, in mono and stereo, laid out
// in every chunk arrangement, against values computed here in floating
// point; and the files it must refuse, each with a message that says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "archive_builder.h"
#include "wave_builder.h"
#include "wave_file.h"

using namespace wave_builder;

namespace {

int16_t ClampRound(double value) { return static_cast<int16_t>(std::clamp(std::round(value), -32768.0, 32767.0)); }

struct SampleSource {
    const char* name;
    std::function<std::vector<uint8_t>(uint16_t channels)> format;
    std::vector<uint8_t> data;
    std::vector<int16_t> expected;
    size_t clipped;  // how many samples the reader must report clipped
};

size_t CountClipped(const std::vector<double>& scaled) {
    return std::count_if(scaled.begin(), scaled.end(),
                         [](double v) { return std::round(v) > 32767 || std::round(v) < -32768; });
}

// Integer PCM of `bytes` bytes: extremes, exact halves (which round away
// from zero), and a spread of values.
SampleSource IntegerSource(const char* name, unsigned bytes, bool extensible) {
    const int64_t top = (int64_t{1} << (8 * bytes - 1)) - 1;
    const double scale = std::ldexp(1.0, -8 * static_cast<int>(bytes - 2));
    std::vector<int64_t> values = {0, 1, -1, top, -top - 1, top / 2, -top / 3, top - 1};  // odd in all
    if (bytes > 2) {
        const int64_t half = int64_t{1} << (8 * (bytes - 2) - 1);
        values.insert(values.end(), {half, -half, 3 * half, -3 * half, half - 1, -half + 1, top - half + 1});
    }
    std::vector<uint8_t> spread = archive_builder::Bytes(60 * bytes, bytes);
    for (size_t i = 0; i + bytes <= spread.size(); i += bytes) {
        int64_t value = 0;
        for (unsigned b = bytes; b-- > 0;) value = value * 256 + spread[i + b];
        if (value > top) value -= 2 * (top + 1);
        values.push_back(value);
    }
    std::vector<double> scaled;
    for (int64_t v : values) scaled.push_back(static_cast<double>(v) * scale);
    SampleSource source{name, nullptr, PackSamples(values, bytes), {}, CountClipped(scaled)};
    for (double v : scaled) source.expected.push_back(ClampRound(v));
    const uint16_t bits = static_cast<uint16_t>(8 * bytes);
    source.format = [=](uint16_t channels) {
        return extensible ? ExtensibleBody(1, channels, 44100, bits) : FormatBody(1, channels, 44100, bits);
    };
    return source;
}

SampleSource EightBitSource() {
    std::vector<int64_t> values;
    SampleSource source{"8-bit", [](uint16_t ch) { return FormatBody(1, ch, 8000, 8); }, {}, {}, 0};
    for (int v = 0; v <= 256; ++v) {  // an odd count, so mono data needs a pad byte
        values.push_back(v & 255);
        source.expected.push_back(static_cast<int16_t>(((v & 255) - 128) * 256));
    }
    source.data = PackSamples(values, 1);
    return source;
}

SampleSource FloatSource(bool extensible) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {0.0f, 0.5f, -1.0f, 1.0f, 2.5f, -2.5f, inf, -inf, 1e-9f, -1e-9f,
                                 32767.5f / 32768, -32768.5f / 32768, 1.5f / 32768, -0.5f / 32768,
                                 std::numeric_limits<float>::quiet_NaN()};
    for (uint8_t b : archive_builder::Bytes(40, 3)) values.push_back((b - 127.5f) / 100.0f);
    std::vector<double> scaled;
    SampleSource source{extensible ? "extensible float" : "float", nullptr, PackFloats(values), {}, 0};
    for (float v : values) {
        scaled.push_back(std::isnan(v) ? 0.0 : double{v} * 32768);
        source.expected.push_back(ClampRound(scaled.back()));
    }
    source.clipped = CountClipped(scaled);
    source.format = [=](uint16_t ch) {
        return extensible ? ExtensibleBody(3, ch, 48000, 32) : FormatBody(3, ch, 48000, 32);
    };
    return source;
}

// The same format and data chunks, arranged the ways files arrange them.
std::vector<std::pair<const char*, std::vector<Chunk>>> Arrangements(const std::vector<uint8_t>& format,
                                                                     const std::vector<uint8_t>& data) {
    std::vector<uint8_t> odd = {1, 2, 3, 4, 5};
    return {
        {"plain", {{"fmt ", format}, {"data", data}}},
        {"unknown odd chunks around", {{"LIST", odd}, {"fmt ", format}, {"junk", {7}}, {"data", data}, {"id3 ", odd}}},
        {"data last without its pad", {{"fmt ", format}, {"fact", {1, 0, 0, 0}}, {"data", data, false}}},
        {"data before format", {{"data", data}, {"fmt ", format}}},
    };
}

uint32_t RateOf(const std::vector<uint8_t>& formatBody) {
    return formatBody[4] | (formatBody[5] << 8) | (formatBody[6] << 16) | (uint32_t{formatBody[7]} << 24);
}

std::string MessageOf(const std::vector<uint8_t>& file) {
    try {
        writer::ReadWave(file.data(), file.size());
    } catch (const files::ToolError& e) {
        return e.what();
    }
    return "(accepted)";
}

}  // namespace

TEST(ReadWave, ReadsEveryFormatInEveryArrangement) {
    std::vector<SampleSource> sources = {EightBitSource(),
                                         IntegerSource("16-bit", 2, false),
                                         IntegerSource("24-bit", 3, false),
                                         IntegerSource("32-bit", 4, false),
                                         IntegerSource("extensible 24-bit", 3, true),
                                         FloatSource(false),
                                         FloatSource(true)};
    for (SampleSource& source : sources) {
        for (uint16_t channels : {1, 2}) {
            const unsigned bytes = static_cast<unsigned>(source.data.size() / source.expected.size());
            std::vector<uint8_t> data = source.data;
            std::vector<int16_t> expected = source.expected;
            if (channels == 2 && expected.size() % 2) {  // whole frames; this odd sample goes
                data.resize(data.size() - bytes);
                expected.pop_back();
            }
            for (const auto& [arrangement, chunks] : Arrangements(source.format(channels), data)) {
                SCOPED_TRACE(std::string(source.name) + ", " + std::to_string(channels) + " channel(s), " + arrangement);
                const std::vector<uint8_t> file = MakeWave(chunks);
                writer::PcmAudio audio = writer::ReadWave(file.data(), file.size());
                EXPECT_EQ(audio.channels, channels);
                EXPECT_EQ(audio.sampleRate, RateOf(source.format(channels)));
                ASSERT_EQ(audio.samples, expected);
                if (std::string(source.name) == "16-bit") {
                    EXPECT_TRUE(audio.notes.empty());
                } else {
                    ASSERT_EQ(audio.notes.size(), 1u);
                    EXPECT_EQ(audio.notes[0].rfind("converted", 0), 0u) << audio.notes[0];
                }
            }
        }
        // Clipping is reported with its count (the mono file holds every value).
        const std::vector<uint8_t> file = MakeWave({{"fmt ", source.format(1)}, {"data", source.data}});
        writer::PcmAudio audio = writer::ReadWave(file.data(), file.size());
        const bool reportsClipping = !audio.notes.empty() && audio.notes[0].find("clipped") != std::string::npos;
        EXPECT_EQ(reportsClipping, source.clipped > 0) << source.name;
        if (source.clipped) {
            EXPECT_NE(audio.notes[0].find(std::to_string(source.clipped) + " sample(s)"), std::string::npos)
                << source.name << ": " << audio.notes[0];
        }
    }
}

// A frame cut short at the end of the data is dropped with a note; a data
// chunk cut short by the end of the file is refused; every prefix of a file
// either reads whole or is refused, never read past.
TEST(ReadWave, CutFilesReadWholeOrAreRefused) {
    const std::vector<uint8_t> stereo16 = FormatBody(1, 2, 22050, 16);
    std::vector<uint8_t> data = archive_builder::Bytes(4 * 25 + 3, 11);
    const std::vector<uint8_t> file = MakeWave({{"fmt ", stereo16}, {"data", data}, {"LIST", {1, 2, 3}}});
    const writer::PcmAudio whole = writer::ReadWave(file.data(), file.size());
    ASSERT_EQ(whole.samples.size(), 50u);
    ASSERT_EQ(whole.notes.size(), 1u);
    EXPECT_NE(whole.notes[0].find("3 byte(s)"), std::string::npos) << whole.notes[0];

    const size_t dataEnd = 12 + 8 + stereo16.size() + 8 + data.size();
    for (size_t length = 0; length <= file.size(); ++length) {
        std::vector<uint8_t> prefix(file.begin(), file.begin() + length);  // exactly sized, for ASan
        if (length < dataEnd) {
            EXPECT_THROW(writer::ReadWave(prefix.data(), prefix.size()), files::ToolError) << length;
        } else {
            EXPECT_EQ(writer::ReadWave(prefix.data(), prefix.size()).samples, whole.samples) << length;
        }
    }
}

TEST(ReadWave, RefusesWhatItCannotReadAndSaysWhy) {
    const std::vector<uint8_t> mono16 = FormatBody(1, 1, 22050, 16);
    const std::vector<uint8_t> samples = {1, 2, 3, 4};
    std::vector<uint8_t> badAlign = mono16;
    badAlign[12] = 4;
    std::vector<uint8_t> rifx = MakeWave({{"fmt ", mono16}, {"data", samples}});
    rifx[3] = 'X';
    const struct {
        const char* what;
        std::vector<uint8_t> file;
        const char* message;
    } cases[] = {
        {"empty", {}, "not a WAVE file"},
        {"another RIFF form", rifx, "not a WAVE file"},
        {"compressed", MakeWave({{"fmt ", FormatBody(0x55, 1, 22050, 0)}, {"data", samples}}), "format tag 0x0055"},
        {"extensible, other sub-format", MakeWave({{"fmt ", ExtensibleBody(0x55, 1, 22050, 16)}, {"data", samples}}),
         "sub-format"},
        {"extensible, short", MakeWave({{"fmt ", FormatBody(0xFFFE, 1, 22050, 16, true)}, {"data", samples}}),
         "too short"},
        {"three channels", MakeWave({{"fmt ", FormatBody(1, 3, 22050, 16)}, {"data", samples}}), "3 channels"},
        {"no channels", MakeWave({{"fmt ", FormatBody(1, 0, 22050, 16)}, {"data", samples}}), "0 channels"},
        {"block align", MakeWave({{"fmt ", badAlign}, {"data", samples}}), "block align 4"},
        {"12-bit", MakeWave({{"fmt ", FormatBody(1, 1, 22050, 12)}, {"data", samples}}), "12-bit PCM"},
        {"64-bit float", MakeWave({{"fmt ", FormatBody(3, 1, 22050, 64)}, {"data", samples}}), "64-bit float"},
        {"short format", MakeWave({{"fmt ", {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0, 0, 0, 0, 2, 0}}, {"data", samples}}),
         "fewer than 16"},
        {"no data", MakeWave({{"fmt ", mono16}, {"LIST", samples}}), "no \"data\" chunk"},
        {"no format", MakeWave({{"data", samples}}), "no format"},
        {"format past the end", MakeWave({{"fmt ", mono16, true, 400}}), "format chunk at offset 12"},
        {"data cut short", MakeWave({{"fmt ", mono16}, {"data", samples, true, 1000}}), "truncated"},
        {"data cut short, before its format", MakeWave({{"data", samples, true, 1000}, {"fmt ", mono16}}),
         "truncated"},
        {"a chunk past the end hides the data", MakeWave({{"fmt ", mono16}, {"LIST", samples, true, 99}, {"data", samples}}),
         "\"LIST\" chunk at offset 36 claims 99"},
    };
    for (const auto& c : cases)
        EXPECT_NE(MessageOf(c.file).find(c.message), std::string::npos) << c.what << ": " << MessageOf(c.file);
}
