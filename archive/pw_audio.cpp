#include "pw_audio.h"

#include <cstring>

#include "cpu_features.h"
#include "plugin_frame.h"
#include "pw_decode_table.h"

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define ZORV_AUDIO_VECTOR 1
#endif

namespace {

inline uint32_t Sample(uint8_t code) { return static_cast<uint16_t>(PwDecodeTable[code]); }

#if defined(_WIN32) || (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
#define ZORV_AUDIO_LITTLE_ENDIAN 1
// Where the host order is little-endian, as on every target we build, two
// samples leave as one 32-bit word. The table widened to 32 bits, once as the
// word's low half and once as its high half (2 KiB, made from it by the
// compiler), makes each pair two loads and an OR: no shifts, no merging in
// vector registers, which held the plain loop near one code per cycle.
struct PairHalves {
    alignas(64) uint32_t low[256];
    alignas(64) uint32_t high[256];
};

constexpr PairHalves MakePairHalves() {
    PairHalves halves{};
    for (int code = 0; code < 256; ++code) {
        halves.low[code] = static_cast<uint16_t>(PwDecodeTable[code]);
        halves.high[code] = halves.low[code] << 16;
    }
    return halves;
}

alignas(64) constexpr PairHalves kPairHalves = MakePairHalves();
#endif

#ifdef ZORV_AUDIO_VECTOR
// The table split into the samples' low and high bytes, made from it by the
// compiler, for byte-wise vector lookups.
struct SplitTable {
    alignas(64) uint8_t low[256];
    alignas(64) uint8_t high[256];
};

constexpr SplitTable Split() {
    SplitTable split{};
    for (int code = 0; code < 256; ++code) {
        split.low[code] = static_cast<uint8_t>(static_cast<uint16_t>(PwDecodeTable[code]));
        split.high[code] = static_cast<uint8_t>(static_cast<uint16_t>(PwDecodeTable[code]) >> 8);
    }
    return split;
}

alignas(64) constexpr SplitTable kSplitTable = Split();

// 64 codes per step with byte permutes over the two 256-byte tables (held in
// registers): the scalar loop is bound near one code per cycle, well below
// what memory allows. Returns how many codes it expanded.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) uint32_t ExpandCodesVbmi(
    uint8_t* out, const uint8_t* codes, uint32_t count) {
    const __m512i low0 = _mm512_loadu_si512(kSplitTable.low), low1 = _mm512_loadu_si512(kSplitTable.low + 64);
    const __m512i low2 = _mm512_loadu_si512(kSplitTable.low + 128), low3 = _mm512_loadu_si512(kSplitTable.low + 192);
    const __m512i high0 = _mm512_loadu_si512(kSplitTable.high), high1 = _mm512_loadu_si512(kSplitTable.high + 64);
    const __m512i high2 = _mm512_loadu_si512(kSplitTable.high + 128),
                  high3 = _mm512_loadu_si512(kSplitTable.high + 192);
    // Unpacking interleaves within 128-bit lanes; these put the samples back
    // in code order.
    const __m512i firstHalf = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
    const __m512i secondHalf = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
    uint32_t k = 0;
    for (; count - k >= 64; k += 64) {
        const __m512i c = _mm512_loadu_si512(codes + k);
        const __mmask64 upper = _mm512_movepi8_mask(c);  // codes 128..255
        const __m512i low = _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(low0, c, low1),
                                                   _mm512_permutex2var_epi8(low2, c, low3));
        const __m512i high = _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(high0, c, high1),
                                                    _mm512_permutex2var_epi8(high2, c, high3));
        const __m512i a = _mm512_unpacklo_epi8(low, high), b = _mm512_unpackhi_epi8(low, high);
        _mm512_storeu_si512(out + 2 * static_cast<size_t>(k), _mm512_permutex2var_epi64(a, firstHalf, b));
        _mm512_storeu_si512(out + 2 * static_cast<size_t>(k) + 64, _mm512_permutex2var_epi64(a, secondHalf, b));
    }
    return k;
}

#endif

void ExpandCodes(uint8_t* out, const uint8_t* codes, uint32_t count) {
    uint32_t done = 0;
#ifdef ZORV_AUDIO_VECTOR
    if (HasVbmi()) done = ExpandCodesVbmi(out, codes, count);
#endif
    ExpandPwCodesPortable(out + 2 * static_cast<size_t>(done), codes + done, count - done);
}

}  // namespace

void ExpandPwCodesPortable(uint8_t* out, const uint8_t* codes, uint32_t count) {
    uint32_t k = 0;
#ifdef ZORV_AUDIO_LITTLE_ENDIAN
    // Four codes read as one word, two pairs of samples written as two.
    for (; count - k >= 4; k += 4) {
        uint32_t c;
        std::memcpy(&c, codes + k, 4);
        const uint32_t pairs[2] = {
            kPairHalves.low[c & 0xFF] | kPairHalves.high[(c >> 8) & 0xFF],
            kPairHalves.low[(c >> 16) & 0xFF] | kPairHalves.high[c >> 24],
        };
        std::memcpy(out + 2 * static_cast<size_t>(k), &pairs[0], 4);
        std::memcpy(out + 2 * static_cast<size_t>(k) + 4, &pairs[1], 4);
    }
#endif
    for (; k < count; ++k)
        WriteLe16(out + 2 * static_cast<size_t>(k), static_cast<uint16_t>(Sample(codes[k])));
}

uint32_t ConvertPwAudio(uint8_t* destination, const uint8_t* source) {
    uint32_t codeCount = ReadLe32(source + kPwCodeCountOffset);
    uint32_t dataLength = codeCount * 2u;
    if (destination == nullptr) return kPwHeaderSize + dataLength;

    // "fmt ", chunk length, format tag, channels, rate, (three fields
    // rewritten below) and the extra format length go across as stored.
    std::memcpy(destination + 12, source + 12, 26);
    uint16_t blockAlign = static_cast<uint16_t>(ReadLe16(source + 22) * 2u);
    WriteLe32(destination + 28, ReadLe32(source + 24) * blockAlign);
    WriteLe16(destination + 32, blockAlign);
    WriteLe16(destination + 34, 16);
    std::memcpy(destination + 38, source + 38, 4);
    WriteLe32(destination + 42, dataLength);
    std::memcpy(destination, "RIFF", 4);
    WriteLe32(destination + 4, 38u + dataLength);
    std::memcpy(destination + 8, "WAVE", 4);
    ExpandCodes(destination + kPwHeaderSize, source + kPwHeaderSize, codeCount);
    return 0;
}

bool ClassifyEntry(const uint8_t* head, uint32_t packedSize, uint32_t* outputSize) {
    *outputSize = packedSize;
    if (!IsDeliveredAsWave(head, packedSize)) return false;
    *outputSize = ConvertPwAudio(nullptr, head);
    return true;
}
