#include "pw_encoder.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "byte_order.h"
#include "cpu_features.h"
#include "pw_decode_table.h"

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define ZORV_ENCODER_VECTOR 1
#endif

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

#ifdef ZORV_ENCODER_VECTOR
// One load per sample holds the scalar loop near one sample per cycle, a
// quarter of what memory allows, and a 64 KiB table cannot sit in vector
// registers. The nearest code is odd-symmetric, so the vector path finds it
// for the magnitude a = |sample| as 128 + K(a), or 128 - K(a) for a negative
// sample (K(32768) = 128 gives -32768 its code 0). K rises by one at each of
// its steps, and how many lie in a stretch of samples depends on the
// magnitude, so a is looked up at the coarsest grain that holds at most one
// step per bucket: by its high byte from 3840 on, by a / 16 from 256 on,
// directly below. A bucket's table gives K at its start and the offset
// after which K is one more (255: no step inside).
struct MagnitudeTables {
    alignas(64) uint8_t byHighBase[128];   // a >= 3840: bucket a / 256
    alignas(64) uint8_t byHighStep[128];
    alignas(64) uint8_t bySixteenBase[256];  // 256 <= a < 3840: bucket a / 16
    alignas(64) uint8_t bySixteenStep[256];
    alignas(64) uint8_t direct[256];         // a < 256
};

constexpr int MagnitudeStep(int a) { return kNearest.byPattern[a] - 128; }

constexpr MagnitudeTables MakeMagnitudeTables() {
    MagnitudeTables t{};
    auto fill = [](uint8_t* base, uint8_t* step, int bucket, int width) {
        const int start = bucket * width;
        base[bucket] = static_cast<uint8_t>(MagnitudeStep(start));
        step[bucket] = 255;
        for (int offset = width - 1; offset >= 1; --offset)
            if (MagnitudeStep(start + offset) != MagnitudeStep(start)) step[bucket] = static_cast<uint8_t>(offset - 1);
    };
    for (int bucket = 15; bucket < 128; ++bucket) fill(t.byHighBase, t.byHighStep, bucket, 256);
    for (int bucket = 16; bucket < 240; ++bucket) fill(t.bySixteenBase, t.bySixteenStep, bucket, 16);
    for (int a = 0; a < 256; ++a) t.direct[a] = static_cast<uint8_t>(MagnitudeStep(a));
    // |-32768| has high byte 128, which the 128-entry lookup reads as bucket
    // 0; that bucket is otherwise never taken (a < 256 goes direct).
    t.byHighBase[0] = 128;
    t.byHighStep[0] = 255;
    return t;
}

constexpr MagnitudeTables kMagnitude = MakeMagnitudeTables();

// The tables above promise at most one step per bucket; hold them to it.
constexpr bool EveryBucketHasAtMostOneStep() {
    for (int a = 256; a < 32768; ++a) {
        const bool high = a >= 3840;
        const int width = high ? 256 : 16, bucket = a / width, offset = a % width;
        const uint8_t base = high ? kMagnitude.byHighBase[bucket] : kMagnitude.bySixteenBase[bucket];
        const uint8_t step = high ? kMagnitude.byHighStep[bucket] : kMagnitude.bySixteenStep[bucket];
        if (MagnitudeStep(a) != base + (offset > step ? 1 : 0)) return false;
    }
    return true;
}
static_assert(EveryBucketHasAtMostOneStep(), "the vector encoder's buckets no longer fit the decode table");

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i Lookup256(__m512i index, const uint8_t* table) {
    const __m512i low = _mm512_permutex2var_epi8(_mm512_load_si512(table), index, _mm512_load_si512(table + 64));
    const __m512i high =
        _mm512_permutex2var_epi8(_mm512_load_si512(table + 128), index, _mm512_load_si512(table + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i Lookup128(__m512i index, const uint8_t* table) {
    return _mm512_permutex2var_epi8(_mm512_load_si512(table), index, _mm512_load_si512(table + 64));
}

// 64 samples per step; returns how many it encoded.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) size_t EncodeCodesVbmi(uint8_t* codes, const int16_t* samples,
                                                                              size_t count) {
    alignas(64) uint8_t lowBytes[64], highBytes[64];
    for (int i = 0; i < 64; ++i) {
        lowBytes[i] = static_cast<uint8_t>(2 * i);
        highBytes[i] = static_cast<uint8_t>(2 * i + 1);
    }
    const __m512i lowOf = _mm512_load_si512(lowBytes), highOf = _mm512_load_si512(highBytes);
    const __m512i one = _mm512_set1_epi8(1), fifteen = _mm512_set1_epi8(15), middle = _mm512_set1_epi8(-128);
    size_t k = 0;
    for (; count - k >= 64; k += 64) {
        const __m512i s0 = _mm512_loadu_si512(samples + k), s1 = _mm512_loadu_si512(samples + k + 32);
        const __mmask64 negative = _mm512_kunpackd(_mm512_movepi16_mask(s1), _mm512_movepi16_mask(s0));
        const __m512i a0 = _mm512_abs_epi16(s0), a1 = _mm512_abs_epi16(s1);
        const __m512i high = _mm512_permutex2var_epi8(a0, highOf, a1);
        const __m512i low = _mm512_permutex2var_epi8(a0, lowOf, a1);
        const __m512i sixteenth =
            _mm512_permutex2var_epi8(_mm512_srli_epi16(a0, 4), lowOf, _mm512_srli_epi16(a1, 4));

        const __m512i byHighBase = Lookup128(high, kMagnitude.byHighBase);
        const __m512i byHigh = _mm512_mask_add_epi8(
            byHighBase, _mm512_cmpgt_epu8_mask(low, Lookup128(high, kMagnitude.byHighStep)), byHighBase, one);
        const __m512i bySixteenBase = Lookup256(sixteenth, kMagnitude.bySixteenBase);
        const __m512i bySixteen = _mm512_mask_add_epi8(
            bySixteenBase,
            _mm512_cmpgt_epu8_mask(_mm512_and_si512(low, fifteen), Lookup256(sixteenth, kMagnitude.bySixteenStep)),
            bySixteenBase, one);
        __m512i step = _mm512_mask_blend_epi8(_mm512_cmpge_epu8_mask(high, fifteen), bySixteen, byHigh);
        step = _mm512_mask_blend_epi8(_mm512_testn_epi8_mask(high, high), step, Lookup256(low, kMagnitude.direct));

        const __m512i code = _mm512_mask_sub_epi8(_mm512_add_epi8(middle, step), negative, middle, step);
        _mm512_storeu_si512(codes + k, code);
    }
    return k;
}

#endif

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
    WriteLe32(h + 4, 38 + shape.codeCount + shape.trailingBytes);
    WriteLe32(h + 16, 18);
    WriteLe16(h + 20, 1);
    WriteLe32(h + 28, shape.sampleRate * shape.channels);
    WriteLe16(h + 32, shape.channels);
    WriteLe16(h + 34, 8);
    WriteLe16(h + 36, 0);
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

    const uint32_t lengthField = ReadLe32(original + 4), originalCodes = PwCodeCount(original);
    if (lengthField == 38 + originalCodes + shape.trailingBytes)
        WriteLe32(h + 4, 38 + shape.codeCount + shape.trailingBytes);
    else if (lengthField == 38 + originalCodes)
        WriteLe32(h + 4, 38 + shape.codeCount);

    const uint16_t originalChannels = ReadLe16(original + 22), originalAlign = ReadLe16(original + 32);
    if (originalChannels != shape.channels || ReadLe32(original + 24) != shape.sampleRate) {
        const bool alignPerChannel = originalChannels != 0 && originalAlign != 0 && originalAlign % originalChannels == 0;
        const uint16_t blockAlign =
            static_cast<uint16_t>(shape.channels * (alignPerChannel ? originalAlign / originalChannels : 1));
        WriteLe16(h + 32, blockAlign);
        WriteLe32(h + 28, shape.sampleRate * blockAlign);
    }
}

}  // namespace

uint8_t NearestPwCode(int16_t sample) { return kNearest.byPattern[static_cast<uint16_t>(sample)]; }

void EncodePwCodes(uint8_t* codes, const int16_t* samples, size_t count) {
    size_t done = 0;
#ifdef ZORV_ENCODER_VECTOR
    if (HasVbmi()) {
        // Stores of whole cache lines: an entry's codes start 46 bytes in,
        // and stores split across two lines are slower.
        const size_t misalignment = reinterpret_cast<uintptr_t>(codes) % 64;
        for (; misalignment && done < count && done < 64 - misalignment; ++done)
            codes[done] = kNearest.byPattern[static_cast<uint16_t>(samples[done])];
        done += EncodeCodesVbmi(codes + done, samples + done, count - done);
    }
#endif
    for (size_t i = done; i < count; ++i) codes[i] = kNearest.byPattern[static_cast<uint16_t>(samples[i])];
}

std::vector<uint8_t> EncodePwAudio(const PcmAudio& audio, const uint8_t* originalHeader,
                                   const std::vector<uint8_t>& trailing) {
    if (audio.channels != 1 && audio.channels != 2)
        throw files::ToolError("coded audio takes mono or stereo, not " + std::to_string(audio.channels) +
                               " channels");
    if (audio.samples.size() % audio.channels != 0)
        throw files::ToolError("stereo audio with an odd number of samples");
    if (originalHeader && !IsPwAudio(originalHeader))
        throw files::ToolError("the original header is not a coded-audio header");
    // The archive plug-in converts an entry only while its WAVE, 46 + 2N
    // bytes, fits in 32 bits, and the entry itself must fit a 32-bit size.
    const size_t count = audio.samples.size();
    if (count > kMostPwCodes || trailing.size() > 0xFFFFFFFFu - kPwHeaderSize - count)
        throw files::ToolError("audio too long for a coded-audio entry: " + std::to_string(count) +
                               " samples, at most " + std::to_string(kMostPwCodes));

    const AudioShape shape{audio.channels, audio.sampleRate, static_cast<uint32_t>(count),
                           static_cast<uint32_t>(trailing.size())};
    std::vector<uint8_t> entry(kPwHeaderSize + count + trailing.size());
    uint8_t* h = entry.data();
    std::memcpy(h, "PW10", 4);
    std::memcpy(h + 8, "PCM1", 4);
    std::memcpy(h + 12, "fmt ", 4);
    std::memcpy(h + 38, "data", 4);
    if (originalHeader)
        WriteKeptFields(h, originalHeader, shape);
    else
        WriteFreshFields(h, shape);
    WriteLe16(h + 22, shape.channels);
    WriteLe32(h + 24, shape.sampleRate);
    WriteLe32(h + kPwCodeCountOffset, shape.codeCount);
    EncodePwCodes(h + kPwHeaderSize, audio.samples.data(), count);
    if (!trailing.empty()) std::memcpy(h + kPwHeaderSize + count, trailing.data(), trailing.size());
    return entry;
}

}  // namespace writer
