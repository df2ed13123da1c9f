// Test-side LZSS tools for the picture packer's stream format: a greedy
// encoder that produces valid packed streams, and a deliberately plain
// ring-window decoder that the fast decoder is checked against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzss_test {

// Window geometry shared by the encoder and the reference decoder.
constexpr uint32_t kWindowSize = 4096;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 18;
constexpr uint32_t kInitialWritePos = kWindowSize - kMaxMatch;  // 4078

// Packs `size` bytes. The result decodes back to exactly these bytes with
// unpackedLength == size. Matches may reach into the zero-filled window that
// precedes the data and may overlap the bytes they produce.
std::vector<uint8_t> LzssEncode(const uint8_t* data, size_t size);

// Byte-by-byte ring-window decoder, kept as literal as possible so that it
// can serve as the oracle and as the benchmarks' baseline. Returns the number
// of bytes decoded before the output was full or the packed bytes ran out
// mid-token.
uint32_t LzssPlainDecode(uint8_t* output, uint32_t unpackedLength, const uint8_t* packed,
                         uint32_t packedAvailable);
// The same into a new buffer of unpackedLength bytes (bytes at and past
// *produced are zero).
std::vector<uint8_t> LzssReferenceDecode(const uint8_t* packed, size_t packedAvailable,
                                         uint32_t unpackedLength, uint32_t* produced);

}  // namespace lzss_test
