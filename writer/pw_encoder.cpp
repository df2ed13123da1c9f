#include "pw_encoder.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "pw_decode_table.h"

namespace writer {

namespace {

constexpr int Magnitude(int value) { return value < 0 ? -value : value; }

// Whether code + 1 decodes nearer to `sample` than `code` does; on a tie the
// value nearer to zero wins.
constexpr bool NextIsNearer(int code, int sample) {
    const int here = PwDecodeTable[code], next = PwDecodeTable[code + 1];
    const int toHere = Magnitude(here - sample), toNext = Magnitude(next - sample);
    return toNext < toHere || (toNext == toHere && Magnitude(next) < Magnitude(here));
}

// The nearest code of every 16-bit sample, indexed by the sample's bit
// pattern: one load per sample. The table is strictly increasing, so the
// nearest code never falls as the sample rises and one walk fills it all.
struct NearestCodes {
    uint8_t byPattern[65536];
};

constexpr NearestCodes MakeNearestCodes() {
    NearestCodes nearest{};
    int code = 0;
    for (int sample = -32768; sample <= 32767; ++sample) {
        while (code < 255 && NextIsNearer(code, sample)) ++code;
        nearest.byPattern[static_cast<uint16_t>(sample)] = static_cast<uint8_t>(code);
    }
    return nearest;
}

alignas(64) constexpr NearestCodes kNearest = MakeNearestCodes();

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void PutLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool IsPwHeader(const uint8_t* h) {
    return std::memcmp(h, "PW10", 4) == 0 && std::memcmp(h + 8, "PCM1", 4) == 0 &&
           std::memcmp(h + 12, "fmt ", 4) == 0 && std::memcmp(h + 38, "data", 4) == 0;
}

// Header fields that describe the audio itself.
struct AudioShape {
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t codeCount;
    uint32_t trailingBytes;
};

// A fresh header: a format chunk of 18 bytes, as the fixed layout holds, and
// the fields of 8-bit PCM, one byte per code. The u32 at 4 is the entry's
// length minus 8, as a RIFF header would hold.
void WriteFreshFields(uint8_t* h, const AudioShape& shape) {
    PutLe32(h + 4, 38 + shape.codeCount + shape.trailingBytes);
    PutLe32(h + 16, 18);
    PutLe16(h + 20, 1);
    PutLe32(h + 28, shape.sampleRate * shape.channels);
    PutLe16(h + 32, shape.channels);
    PutLe16(h + 34, 8);
    PutLe16(h + 36, 0);
}

// The fields a WAVE cannot carry, kept from the entry being replaced. Two
// of them are derived from what changes, and follow it when it does: the
// u32 at 4, when it held the entry's length minus 8; byte rate and block
// align, when the channels or the rate differ, in the original's bytes per
// sample. Everything else stays as stored.
void WriteKeptFields(uint8_t* h, const uint8_t* original, const AudioShape& shape) {
    std::memcpy(h + 4, original + 4, 4);
    std::memcpy(h + 16, original + 16, 6);   // format length, format tag
    std::memcpy(h + 28, original + 28, 10);  // byte rate, block align, bits, extra length

    const uint32_t lengthField = Le32(original + 4), originalCodes = Le32(original + 42);
    if (lengthField == 38 + originalCodes + shape.trailingBytes)
        PutLe32(h + 4, 38 + shape.codeCount + shape.trailingBytes);
    else if (lengthField == 38 + originalCodes)
        PutLe32(h + 4, 38 + shape.codeCount);

    const uint16_t originalChannels = Le16(original + 22), originalAlign = Le16(original + 32);
    if (originalChannels != shape.channels || Le32(original + 24) != shape.sampleRate) {
        const bool alignPerChannel = originalChannels != 0 && originalAlign != 0 && originalAlign % originalChannels == 0;
        const uint16_t blockAlign =
            static_cast<uint16_t>(shape.channels * (alignPerChannel ? originalAlign / originalChannels : 1));
        PutLe16(h + 32, blockAlign);
        PutLe32(h + 28, shape.sampleRate * blockAlign);
    }
}

}  // namespace

uint8_t NearestPwCode(int16_t sample) { return kNearest.byPattern[static_cast<uint16_t>(sample)]; }

void EncodePwCodes(uint8_t* codes, const int16_t* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) codes[i] = kNearest.byPattern[static_cast<uint16_t>(samples[i])];
}

std::vector<uint8_t> EncodePwAudio(const PcmAudio& audio, const uint8_t* originalHeader,
                                   const std::vector<uint8_t>& trailing) {
    if (audio.channels != 1 && audio.channels != 2)
        throw std::invalid_argument("coded audio takes mono or stereo, not " + std::to_string(audio.channels) +
                                    " channels");
    if (audio.samples.size() % audio.channels != 0)
        throw std::invalid_argument("stereo audio with an odd number of samples");
    if (originalHeader && !IsPwHeader(originalHeader))
        throw std::invalid_argument("the original header is not a coded-audio header");
    // The archive plug-in converts an entry only while its WAVE, 46 + 2N
    // bytes, fits in 32 bits, and the entry itself must fit a 32-bit size.
    const size_t count = audio.samples.size();
    if (count > kMaxPwCodes || trailing.size() > 0xFFFFFFFFu - kPwHeaderBytes - count)
        throw std::length_error("audio too long for a coded-audio entry: " + std::to_string(count) +
                                " samples, at most " + std::to_string(kMaxPwCodes));

    const AudioShape shape{audio.channels, audio.sampleRate, static_cast<uint32_t>(count),
                           static_cast<uint32_t>(trailing.size())};
    std::vector<uint8_t> entry(kPwHeaderBytes + count + trailing.size());
    uint8_t* h = entry.data();
    std::memcpy(h, "PW10", 4);
    std::memcpy(h + 8, "PCM1", 4);
    std::memcpy(h + 12, "fmt ", 4);
    std::memcpy(h + 38, "data", 4);
    if (originalHeader)
        WriteKeptFields(h, originalHeader, shape);
    else
        WriteFreshFields(h, shape);
    PutLe16(h + 22, shape.channels);
    PutLe32(h + 24, shape.sampleRate);
    PutLe32(h + 42, shape.codeCount);
    EncodePwCodes(h + kPwHeaderBytes, audio.samples.data(), count);
    if (!trailing.empty()) std::memcpy(h + kPwHeaderBytes + count, trailing.data(), trailing.size());
    return entry;
}

}  // namespace writer
