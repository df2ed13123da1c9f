// A deliberately plain optimal LZSS parse, the oracle for the encoder: every
// length at every distance at every position, and a shortest path over
// them. Slow (quadratic in the input up to 4096 bytes back), so only for
// small inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzss_brute_force {

constexpr uint64_t kLiteralBits = 9;
constexpr uint64_t kMatchBits = 17;

struct Token {
  uint32_t length;    // 1 for a literal
  uint32_t distance;  // bytes back, for a match
};

struct Parse {
  uint64_t bits = 0;
  std::vector<Token> tokens;
};

inline Parse OptimalParse(const uint8_t* data, size_t size) {
  // The decoder's window starts as zeros: a source before the input reads 0.
  // A source at or after output index i reads bytes this match produced,
  // which are the input's own.
  auto source = [data](size_t i, size_t back) -> uint8_t { return i < back ? 0 : data[i - back]; };
  std::vector<uint64_t> rest(size + 1, 0);
  std::vector<Token> first(size + 1, Token{1, 0});
  for (size_t i = size; i-- > 0;) {
    rest[i] = rest[i + 1] + kLiteralBits;
    for (size_t distance = 1; distance <= 4096; ++distance) {
      // Every distance beyond i + 18 reads nothing but zeros, like i + 18.
      if (distance > i + 18) break;
      for (size_t length = 1; length <= 18 && i + length <= size; ++length) {
        if (source(i + length - 1, distance) != data[i + length - 1]) break;
        if (length >= 3 && rest[i + length] + kMatchBits < rest[i]) {
          rest[i] = rest[i + length] + kMatchBits;
          first[i] = Token{static_cast<uint32_t>(length), static_cast<uint32_t>(distance)};
        }
      }
    }
  }
  Parse parse;
  parse.bits = rest[0];
  for (size_t i = 0; i < size; i += first[i].length) parse.tokens.push_back(first[i]);
  return parse;
}

// The packed stream of a parse, so that the oracle itself can be checked by
// decoding it.
inline std::vector<uint8_t> Pack(const uint8_t* data, const Parse& parse) {
  std::vector<uint8_t> out;
  size_t flags = 0;
  size_t produced = 0;
  for (size_t t = 0; t < parse.tokens.size(); ++t) {
    if (t % 8 == 0) {
      flags = out.size();
      out.push_back(0);
    }
    const Token& token = parse.tokens[t];
    if (token.length == 1) {
      out[flags] |= static_cast<uint8_t>(1u << (t % 8));
      out.push_back(data[produced]);
    } else {
      const uint32_t windowPos = static_cast<uint32_t>((4078 + produced + 4096 - token.distance) % 4096);
      out.push_back(static_cast<uint8_t>(windowPos & 0xFF));
      out.push_back(static_cast<uint8_t>(((windowPos >> 8) << 4) | (token.length - 3)));
    }
    produced += token.length;
  }
  return out;
}

// The bits of a packed stream's tokens (9 a literal, 17 a match) for `size`
// bytes of output, or false unless its tokens end exactly with those bytes
// (no match cut short) and nothing follows the last one.
inline bool StreamBits(const std::vector<uint8_t>& packed, size_t size, uint64_t* bits) {
  *bits = 0;
  size_t in = 0, out = 0;
  while (out < size && in < packed.size()) {
    const uint8_t flags = packed[in++];
    for (int bit = 0; bit < 8 && out < size; ++bit) {
      if (flags & (1u << bit)) {
        in += 1, out += 1, *bits += kLiteralBits;
      } else {
        if (in + 1 < packed.size()) out += (packed[in + 1] & 0x0Fu) + 3u;
        in += 2, *bits += kMatchBits;
      }
    }
  }
  return out == size && in == packed.size();
}

}  // namespace lzss_brute_force
