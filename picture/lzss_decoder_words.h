// The LZSS decoder, generic over the width of the words that carry short
// match periods. lzss_decoder.cpp builds the native width into the module;
// tests also build the other one (lzss_decoder_other_width.cpp), so that one
// machine checks the copy paths of both the 32-bit and the 64-bit builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "invariants.h"

// Words are assembled from and split into bytes with shifts that assume the
// least significant byte comes first in memory, as on every target we build.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the LZSS decoder assumes a little-endian target"
#endif

// The packed stream addresses a 4096-byte ring window by absolute position.
// Rather than keep the ring, this decoder writes straight into the output:
// at output index o the ring's write position is (4078 + o) & 4095, so a
// match at window position p always copies from d = ((o + 4077 - p) & 4095) + 1
// bytes back. Sources before the start of the output read zeros, because
// the ring starts zeroed.

#if defined(__GNUC__)
#define LZSS_ALWAYS_INLINE inline __attribute__((always_inline))
// The per-word loops below have fixed counts of 2 to 7 and must become
// straight-line code so that the words stay in registers.
#define LZSS_UNROLL _Pragma("GCC unroll 8")
#else
#define LZSS_ALWAYS_INLINE inline
#define LZSS_UNROLL
#endif

namespace lzss_words {
// Internal linkage, as in a source file of its own: the compiler then inlines
// the decoding loops into their one caller, which the fast path's register
// use depends on.
namespace {

constexpr uint32_t kWindowMask = 4095;
constexpr uint32_t kWindowSize = 4096;
constexpr uint32_t kInitialWritePos = 4078;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 18;

// A match ends with whole words covering its last kEndBytes bytes (for
// n >= kEndBytes; shorter ones end with words covering their first
// kEndBytes). A following match loads exactly those words, so its loads are
// forwarded from the stores instead of waiting until several partial stores
// have reached the cache, which would serialise runs of short-period matches.
constexpr uint32_t kEndBytes = 16;

// Input room for the fast loop: a group with a literal has at most 16 bytes,
// and a literal run loads 8 bytes starting at most 16 bytes in.
constexpr size_t kFastInputRoom = 16 + 8;

inline void Copy8(uint8_t* dst, const uint8_t* src) { std::memcpy(dst, src, 8); }
inline void Copy16(uint8_t* dst, const uint8_t* src) { std::memcpy(dst, src, 16); }

// Periods are repeated in registers of type Word: the native width, since on
// the 32-bit build every 64-bit shift or multiply takes several instructions.
template <typename Word>
struct Words {
  static constexpr uint32_t kBytes = sizeof(Word);
  static constexpr uint32_t kBits = 8 * kBytes;
  static constexpr uint32_t kEndWords = kEndBytes / kBytes;
  static_assert(kEndBytes % kBytes == 0, "end words cover exactly kEndBytes");
  // Most bytes a match stores from its start: a period of 17 is copied as
  // ceil(18 / kBytes) whole words; everything else stores at most 18.
  static constexpr uint32_t kMatchStoreMax = (kMaxMatch + kBytes - 1) / kBytes * kBytes;
  // Output room for the fast loop: a token starts at most 7 * 18 bytes into
  // a group; a literal run stores 8 bytes.
  static constexpr size_t kFastOutputRoom = 7 * kMaxMatch + (kMatchStoreMax > 8 ? kMatchStoreMax : 8);

  static Word Load(const uint8_t* p) {
    Word v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void Store(uint8_t* p, Word v) { std::memcpy(p, &v, sizeof v); }

  // Bytes bits / 8 .. bits / 8 + kBytes - 1 of the two words lo:hi (lo
  // first in memory), for bits in 0 .. kBits - 8; shifting hi in two steps
  // avoids a shift by the full width when bits is 0.
  static Word Funnel(Word lo, Word hi, unsigned bits) { return (lo >> bits) | ((hi << 1) << (kBits - 1 - bits)); }
};

template <typename Word>
struct MatchTables {
  using W = Words<Word>;
  // For a period d of 1..kBytes: the factor that repeats d bytes across a
  // word.
  Word replicate[W::kBytes + 1];
  // Offset of the first end word for a match of length n.
  uint8_t endOffset[kMaxMatch + 1];
  // For a period d of 1..kBytes: the phase of the period, times 8, at which
  // end word i of a match of length n starts.
  uint8_t endPhase[W::kEndWords][W::kBytes + 1][kMaxMatch + 1];

  constexpr MatchTables() : replicate(), endOffset(), endPhase() {
    for (uint32_t d = 1; d <= W::kBytes; ++d) {
      for (uint32_t at = 0; at < W::kBytes; at += d) replicate[d] |= Word{1} << (8 * at);
    }
    for (uint32_t n = 0; n <= kMaxMatch; ++n) {
      endOffset[n] = static_cast<uint8_t>(n >= kEndBytes ? n - kEndBytes : 0);
      for (uint32_t i = 0; i < W::kEndWords; ++i) {
        for (uint32_t d = 1; d <= W::kBytes; ++d) {
          endPhase[i][d][n] = static_cast<uint8_t>(8 * ((endOffset[n] + i * W::kBytes) % d));
        }
      }
    }
  }
};

template <typename Word>
constexpr MatchTables<Word> kTables{};

// A period d with (kBack - 1) * kBytes < d <= kBack * kBytes: each output
// word is the word kBack words earlier shifted along by kBack * kBytes - d
// bytes, so the match is computed from the kBack words before dst without
// reading back any of its own stores.
template <typename Word, uint32_t kBack>
LZSS_ALWAYS_INLINE void CopyPeriodFromWords(uint8_t* dst, uint32_t d, uint32_t j) {
  using W = Words<Word>;
  ZORV_INVARIANT((kBack - 1) * W::kBytes < d && d <= kBack * W::kBytes);
  const unsigned shift = 8 * (kBack * W::kBytes - d);
  Word w[kBack + W::kEndWords + 1];  // w[kBack] is the word at dst
  LZSS_UNROLL
  for (uint32_t k = 0; k < kBack; ++k) w[k] = W::Load(dst - (kBack - k) * W::kBytes);
  LZSS_UNROLL
  for (uint32_t k = kBack; k < kBack + W::kEndWords + 1; ++k) w[k] = W::Funnel(w[k - kBack], w[k - kBack + 1], shift);
  W::Store(dst, w[kBack]);
  LZSS_UNROLL
  for (uint32_t i = 0; i < W::kEndWords; ++i) {
    W::Store(dst + j + i * W::kBytes, W::Funnel(w[kBack + i], w[kBack + i + 1], 8 * j));
  }
}

// Writes the n (3..18) bytes of a match at distance d (1..4096), possibly
// followed by junk up to kMatchStoreMax bytes from dst, which the caller has
// room for and overwrites with later tokens. Short periods are repeated in
// registers, which gives the ring's byte-by-byte overlap semantics without
// byte loops.
template <typename Word>
LZSS_ALWAYS_INLINE void CopyMatchFast(uint8_t* dst, uint32_t d, uint32_t n) {
  using W = Words<Word>;
  ZORV_INVARIANT(d >= 1 && d <= kWindowSize);
  ZORV_INVARIANT(n >= kMinMatch && n <= kMaxMatch);
  const MatchTables<Word>& tables = kTables<Word>;
  const uint32_t j = tables.endOffset[n];
  if (d <= W::kBytes) {
    if (d == 1) {
      // Only the last word has to end at n: the next match of this kind
      // loads just the byte before it.
      const Word fill = dst[-1] * tables.replicate[1];
      LZSS_UNROLL
      for (uint32_t i = 0; i < W::kEndWords; ++i) W::Store(dst + i * W::kBytes, fill);
      W::Store(dst + j + kEndBytes - W::kBytes, fill);
      return;
    }
    // The last d output bytes, repeated. Little-endian: the byte at dst - 1
    // is the top byte of the word.
    const unsigned shift = W::kBits - 8 * d;
    const Word w0 = (W::Load(dst - W::kBytes) >> shift) * tables.replicate[d];
    // The period from phase r on: w0 from byte r, then the bytes after the
    // end of w0, which are its bytes kBytes - d.. again.
    const Word wrap = (w0 >> shift) << 1;
    W::Store(dst, w0);
    LZSS_UNROLL
    for (uint32_t i = 0; i < W::kEndWords; ++i) {
      const unsigned r = tables.endPhase[i][d][n];
      W::Store(dst + j + i * W::kBytes, (w0 >> r) | (wrap << (W::kBits - 1 - r)));
    }
  } else if (d >= kMaxMatch) {
    // No overlap: the source ends before dst.
    const uint8_t* src = dst - d;
    Copy16(dst, src);
    Copy16(dst + j, src + j);
  } else if (d <= 2 * W::kBytes) {
    CopyPeriodFromWords<Word, 2>(dst, d, j);
  } else if (W::kBytes < 8 && d <= 3 * W::kBytes) {
    CopyPeriodFromWords<Word, 3>(dst, d, j);
  } else if (W::kBytes < 8 && d <= 4 * W::kBytes) {
    CopyPeriodFromWords<Word, 4>(dst, d, j);
  } else {
    // A period of 17: rare, so plain word copies, each reading only bytes
    // that are already final.
    const uint8_t* src = dst - d;
    LZSS_UNROLL
    for (uint32_t k = 0; k < W::kMatchStoreMax; k += W::kBytes) W::Store(dst + k, W::Load(src + k));
  }
}

// One match token in the fast loop. `key` turns an output address and a
// window position into the match distance (see the top of this file).
template <typename Word>
LZSS_ALWAYS_INLINE void FastMatch(const uint8_t*& in, uint8_t*& dst, uintptr_t key) {
  const uint32_t b0 = in[0], b1 = in[1];
  in += 2;
  const uint32_t p = b0 | ((b1 & 0xF0u) << 4);
  const uint32_t n = (b1 & 0x0Fu) + kMinMatch;
  const uint32_t d = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(dst) + key - p) & kWindowMask) + 1;
  CopyMatchFast<Word>(dst, d, n);
  dst += n;
}

// Index of the lowest set bit; v is non-zero and below 512.
inline unsigned LowestSetBit(uint32_t v) {
  ZORV_INVARIANT(v != 0 && v < 512);
#if defined(__GNUC__)
  return static_cast<unsigned>(__builtin_ctz(v));
#else
  unsigned i = 0;
  while (!(v & 1)) v >>= 1, ++i;
  return i;
#endif
}

struct DecodeState {
  uint8_t* out;
  uint32_t length;
  uint32_t o;
  const uint8_t* in;
  const uint8_t* inEnd;
};

// Token-by-token decoding with every bound checked. Decodes whole groups
// while fewer than `until` bytes are out (a group may run past `until`).
// Returns false when the packed bytes ran out before the output was full.
bool DecodeGroupsCarefully(DecodeState& s, uint32_t until) {
  uint8_t* const out = s.out;
  const uint32_t length = s.length;
  uint32_t o = s.o;
  const uint8_t* in = s.in;
  const uint8_t* const inEnd = s.inEnd;
  bool complete = true;
  while (o < until) {
    if (in == inEnd) {
      complete = false;
      break;
    }
    unsigned flags = *in++;
    for (int bit = 0; bit < 8 && o < length; ++bit, flags >>= 1) {
      if (flags & 1) {
        if (in == inEnd) {
          complete = false;
          break;
        }
        out[o++] = *in++;
        continue;
      }
      if (inEnd - in < 2) {
        complete = false;
        break;
      }
      const uint32_t p = in[0] | ((in[1] & 0xF0u) << 4);
      uint32_t n = (in[1] & 0x0Fu) + kMinMatch;
      in += 2;
      if (n > length - o) n = length - o;
      const uint32_t d = ((o + kInitialWritePos - 1 - p) & kWindowMask) + 1;
      const uint32_t end = o + n;
      ZORV_INVARIANT(end <= length);
      if (d > o) {
        // Straddles the start: the part before the output is zero window.
        const uint32_t zeros = (d - o < n) ? d - o : n;
        std::memset(out + o, 0, zeros);
        o += zeros;
      }
      for (; o < end; ++o) out[o] = out[o - d];
    }
    if (!complete) break;
  }
  ZORV_INVARIANT(o <= length && in <= inEnd);
  s.o = o;
  s.in = in;
  return complete;
}

// Decodes whole groups without bounds checks while a worst-case group fits
// in both buffers. Requires s.o >= 4096 so that every match source lies
// inside the output.
template <typename Word>
void DecodeGroupsFast(DecodeState& s) {
  constexpr size_t kOutputRoom = Words<Word>::kFastOutputRoom;
  if (s.length - s.o < kOutputRoom || static_cast<size_t>(s.inEnd - s.in) < kFastInputRoom) return;
  uint8_t* const out = s.out;
  uint8_t* dst = out + s.o;
  uint8_t* const dstLimit = out + (s.length - kOutputRoom);
  const uint8_t* in = s.in;
  const uint8_t* const inLimit = s.inEnd - kFastInputRoom;
  const uintptr_t key = kInitialWritePos - 1 - reinterpret_cast<uintptr_t>(out);
  // A full window is out, so no match reaches before the output.
  ZORV_INVARIANT(s.o >= kWindowSize);
  while (dst <= dstLimit && in <= inLimit) {
    unsigned flags = *in++;
    if (flags == 0xFF) {
      // Incompressible stretches are runs of all-literal groups: an 8-byte
      // copy per group, and a tight loop over pairs of them.
      Copy8(dst, in);
      dst += 8;
      in += 8;
      while (dstLimit - dst >= 8 && inLimit - in >= 9 && in[0] == 0xFF && in[9] == 0xFF) {
        Copy8(dst, in + 1);
        Copy8(dst + 8, in + 10);
        dst += 16;
        in += 18;
      }
      continue;
    }
    if (flags == 0) {
      for (int i = 0; i < 8; ++i) FastMatch<Word>(in, dst, key);
      continue;
    }
    // Mixed group: alternate runs of literals, each copied as one 8-byte
    // word of which only the run's length is kept, with single matches.
    // This branches per run instead of per token. Set bits of `matches`
    // mark match tokens, plus a stop bit after the eighth token.
    uint32_t matches = (~flags & 0xFFu) | 0x100u;
    for (;;) {
      const unsigned run = LowestSetBit(matches);
      Copy8(dst, in);
      dst += run;
      in += run;
      matches >>= run;
      if (matches == 1) break;
      FastMatch<Word>(in, dst, key);
      matches >>= 1;
    }
  }
  // Every group stayed within the room the loop condition promised.
  ZORV_INVARIANT(dst <= out + s.length && in <= s.inEnd);
  s.o = static_cast<uint32_t>(dst - out);
  s.in = in;
}

template <typename Word>
uint32_t Decode(uint8_t* output, uint32_t unpackedLength, const uint8_t* packed, uint32_t packedAvailable) {
  DecodeState s{output, unpackedLength, 0, packed, packed + packedAvailable};
  // Until a full window has been produced a match may reach before the
  // output; the careful path handles that, the fast path never has to.
  const uint32_t warmUp = unpackedLength < kWindowSize ? unpackedLength : kWindowSize;
  if (!DecodeGroupsCarefully(s, warmUp)) return s.o;
  DecodeGroupsFast<Word>(s);
  DecodeGroupsCarefully(s, unpackedLength);
  return s.o;
}

using NativeWord = std::conditional_t<(sizeof(void*) >= 8), uint64_t, uint32_t>;
using OtherWord = std::conditional_t<(sizeof(void*) >= 8), uint32_t, uint64_t>;

}  // namespace
}  // namespace lzss_words
