// Test-side LZSS tools for the picture packer's stream format: a token
// writer for hand-made streams, a greedy encoder that produces valid packed
// streams, and a deliberately plain ring-window decoder that the fast
// decoder is checked against.
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

// Writes a packed stream token by token. It keeps count of the bytes the
// tokens produce, so that a match can be given by its distance back.
class PackedStream {
 public:
  void Literal(uint8_t c) {
    StartToken(true);
    bytes_.push_back(c);
    ++produced_;
  }
  // A match of `length` (3..18) bytes from window position `windowPos`.
  void MatchAt(uint32_t windowPos, uint32_t length) {
    StartToken(false);
    bytes_.push_back(static_cast<uint8_t>(windowPos & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(((windowPos >> 4) & 0xF0) | (length - kMinMatch)));
    produced_ += length;
  }
  // The same, copying from `distance` (1..4096) bytes back.
  void MatchBack(uint32_t distance, uint32_t length) {
    MatchAt((kInitialWritePos + produced_ - distance) % kWindowSize, length);
  }
  uint32_t produced() const { return produced_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  // Each group of eight tokens starts with its flag byte; a set bit marks a
  // literal.
  void StartToken(bool literal) {
    if (bit_ == 8) {
      flagIndex_ = bytes_.size();
      bytes_.push_back(0);
      bit_ = 0;
    }
    if (literal) bytes_[flagIndex_] |= static_cast<uint8_t>(1u << bit_);
    ++bit_;
  }

  std::vector<uint8_t> bytes_;
  size_t flagIndex_ = 0;
  int bit_ = 8;
  uint32_t produced_ = 0;
};

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
