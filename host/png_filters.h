// PNG's five row filters for 8-bit RGB rows, all weighed in one pass.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

constexpr int kPngFilterCount = 5;  // none, sub, up, average, Paeth: PNG's filter types 0..4

// Filters `row` (`size` bytes, 3 a pixel) against `above` (the row above:
// zeros for the first) by every filter at once: filter f's bytes go to
// out[f] for f = 1..4 (the unfiltered row is `row` itself) and the sum of
// their magnitudes (each byte read as signed, |b|) to sums[f].
void FilterRgbRow(const uint8_t* row, const uint8_t* above, size_t size, uint8_t* const out[kPngFilterCount],
                  uint64_t sums[kPngFilterCount]);

}  // namespace host
