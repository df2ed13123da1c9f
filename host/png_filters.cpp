#include "png_filters.h"

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace host {
namespace {

constexpr size_t kPixel = 3;

// How far a filtered byte is from zero, read as signed: the smaller of d
// and -d in eight bits.
inline uint8_t Magnitude(uint8_t d) {
    const auto negated = static_cast<uint8_t>(0u - d);
    return d < negated ? d : negated;
}

inline uint8_t PaethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Bytes [from, to) one at a time; a and c (the left neighbours) are zero
// for the first pixel.
void FilterBytes(const uint8_t* row, const uint8_t* above, size_t from, size_t to, uint8_t* const out[],
                 uint64_t sums[]) {
    for (size_t i = from; i < to; ++i) {
        const uint8_t x = row[i], b = above[i];
        const uint8_t a = i >= kPixel ? row[i - kPixel] : 0, c = i >= kPixel ? above[i - kPixel] : 0;
        const uint8_t filtered[kPngFilterCount] = {
            x, static_cast<uint8_t>(x - a), static_cast<uint8_t>(x - b), static_cast<uint8_t>(x - ((a + b) >> 1)),
            static_cast<uint8_t>(x - PaethPredictor(a, b, c))};
        sums[0] += Magnitude(x);
        for (int f = 1; f < kPngFilterCount; ++f) {
            out[f][i] = filtered[f];
            sums[f] += Magnitude(filtered[f]);
        }
    }
}

#if defined(__SSE2__)

// Sixteen bytes' magnitudes added into two 64-bit lanes.
inline __m128i AddMagnitudes(__m128i total, __m128i d) {
    const __m128i magnitude = _mm_min_epu8(d, _mm_sub_epi8(_mm_setzero_si128(), d));
    return _mm_add_epi64(total, _mm_sad_epu8(magnitude, _mm_setzero_si128()));
}

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

inline __m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// The Paeth predictor of eight pixels' bytes widened to 16 bits, where
// |a + b - 2c| cannot overflow.
inline __m128i PaethPredictor16(__m128i a, __m128i b, __m128i c) {
    const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
    const __m128i pa = Abs16(bc), pb = Abs16(ac), pc = Abs16(_mm_add_epi16(bc, ac));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i bOrC = Select(_mm_cmpgt_epi16(pb, pc), c, b);
    return Select(notA, bOrC, a);
}

inline __m128i PaethPredictor(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = PaethPredictor16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                         _mm_unpacklo_epi8(c, zero));
    const __m128i high = PaethPredictor16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                          _mm_unpackhi_epi8(c, zero));
    return _mm_packus_epi16(low, high);
}

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Sixteen bytes at a time from the second pixel on; returns where it stopped.
size_t FilterVectors(const uint8_t* row, const uint8_t* above, size_t size, uint8_t* const out[], uint64_t sums[]) {
    __m128i total[kPngFilterCount];
    for (__m128i& t : total) t = _mm_setzero_si128();
    size_t i = kPixel;
    for (; i + 16 <= size; i += 16) {
        const __m128i x = Load(row + i), a = Load(row + i - kPixel);
        const __m128i b = Load(above + i), c = Load(above + i - kPixel);
        // floor((a + b) / 2): the rounding-up average less the bit it rounded.
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
        const __m128i filtered[kPngFilterCount] = {x, _mm_sub_epi8(x, a), _mm_sub_epi8(x, b), _mm_sub_epi8(x, mean),
                                                   _mm_sub_epi8(x, PaethPredictor(a, b, c))};
        total[0] = AddMagnitudes(total[0], x);
        for (int f = 1; f < kPngFilterCount; ++f) {
            Store(out[f] + i, filtered[f]);
            total[f] = AddMagnitudes(total[f], filtered[f]);
        }
    }
    for (int f = 0; f < kPngFilterCount; ++f) {
        alignas(16) uint64_t lanes[2];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), total[f]);
        sums[f] += lanes[0] + lanes[1];
    }
    return i;
}

#else

size_t FilterVectors(const uint8_t*, const uint8_t*, size_t, uint8_t* const[], uint64_t[]) { return kPixel; }

#endif

}  // namespace

void FilterRgbRow(const uint8_t* row, const uint8_t* above, size_t size, uint8_t* const out[kPngFilterCount],
                  uint64_t sums[kPngFilterCount]) {
    for (int f = 0; f < kPngFilterCount; ++f) sums[f] = 0;
    if (size <= kPixel) {
        FilterBytes(row, above, 0, size, out, sums);
        return;
    }
    FilterBytes(row, above, 0, kPixel, out, sums);
    const size_t done = FilterVectors(row, above, size, out, sums);
    FilterBytes(row, above, done, size, out, sums);
}

}  // namespace host
