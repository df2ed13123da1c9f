#include "lzss_test_codec.h"

#include <algorithm>
#include <cstring>

namespace lzss_test {
namespace {

constexpr int kHashBits = 15;
// Positions kept in the chain ring; twice the window so that a link is never
// overwritten while its position can still be a match source.
constexpr size_t kChainRing = 2 * kWindowSize;
// Bounds the search so flat or periodic data cannot make encoding quadratic.
constexpr int kMaxChainSteps = 64;

uint32_t Hash3(const uint8_t* p) {
  const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

}  // namespace

std::vector<uint8_t> LzssEncode(const uint8_t* data, size_t size) {
  // The decoder's window starts zeroed, which is the same as the data being
  // preceded by a window's worth of zeros; encoding against such a prefix
  // lets zero runs at the start become matches.
  const size_t prefix = kWindowSize;
  std::vector<uint8_t> buf(prefix + size, 0);
  if (size != 0) std::memcpy(buf.data() + prefix, data, size);
  const size_t total = buf.size();

  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> prev(kChainRing, -1);
  auto insert = [&](size_t pos) {
    if (pos + 2 >= total) return;
    const uint32_t h = Hash3(&buf[pos]);
    prev[pos % kChainRing] = head[h];
    head[h] = static_cast<int64_t>(pos);
  };
  for (size_t pos = 0; pos < prefix; ++pos) insert(pos);

  PackedStream stream;
  size_t i = prefix;
  while (i < total) {
    const size_t maxLen = std::min<size_t>(kMaxMatch, total - i);
    size_t bestLen = 0;
    size_t bestDist = 0;
    if (maxLen >= kMinMatch) {
      int64_t cand = head[Hash3(&buf[i])];
      for (int steps = 0; cand >= 0 && steps < kMaxChainSteps; ++steps) {
        const size_t dist = i - static_cast<size_t>(cand);
        if (dist > kWindowSize) break;
        // Comparing against buf[cand + k] also covers sources that run into
        // the bytes being produced: those are the final bytes too.
        size_t len = 0;
        while (len < maxLen && buf[static_cast<size_t>(cand) + len] == buf[i + len]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestDist = dist;
          if (len == maxLen) break;
        }
        cand = prev[static_cast<size_t>(cand) % kChainRing];
      }
    }

    if (bestLen >= kMinMatch) {
      stream.MatchBack(static_cast<uint32_t>(bestDist), static_cast<uint32_t>(bestLen));
      for (size_t k = 0; k < bestLen; ++k) insert(i + k);
      i += bestLen;
    } else {
      stream.Literal(buf[i]);
      insert(i);
      ++i;
    }
  }
  return stream.bytes();
}

uint32_t LzssPlainDecode(uint8_t* output, uint32_t unpackedLength, const uint8_t* packed,
                         uint32_t packedAvailable) {
  uint8_t window[kWindowSize] = {};
  uint32_t r = kInitialWritePos;
  uint32_t in = 0;
  uint32_t o = 0;
  while (o < unpackedLength) {
    if (in >= packedAvailable) return o;
    const uint8_t flags = packed[in++];
    for (int bit = 0; bit < 8 && o < unpackedLength; ++bit) {
      if (flags & (1u << bit)) {
        if (in + 1 > packedAvailable) return o;
        const uint8_t c = packed[in++];
        output[o++] = c;
        window[r] = c;
        r = (r + 1) % kWindowSize;
      } else {
        if (in + 2 > packedAvailable) return o;
        const uint8_t b0 = packed[in];
        const uint8_t b1 = packed[in + 1];
        in += 2;
        uint32_t p = b0 | ((b1 & 0xF0u) << 4);
        uint32_t n = (b1 & 0x0Fu) + kMinMatch;
        n = std::min(n, unpackedLength - o);
        for (uint32_t k = 0; k < n; ++k) {
          const uint8_t c = window[p];
          output[o++] = c;
          window[r] = c;
          p = (p + 1) % kWindowSize;
          r = (r + 1) % kWindowSize;
        }
      }
    }
  }
  return o;
}

std::vector<uint8_t> LzssReferenceDecode(const uint8_t* packed, size_t packedAvailable,
                                         uint32_t unpackedLength, uint32_t* produced) {
  std::vector<uint8_t> out(unpackedLength, 0);
  // Inputs beyond 4 GiB do not occur in the tests.
  *produced = LzssPlainDecode(out.data(), unpackedLength, packed, static_cast<uint32_t>(packedAvailable));
  return out;
}

}  // namespace lzss_test
