#include "lzss_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lzss_test_codec.h"
#include "test_images.h"

namespace {

using Bytes = std::vector<uint8_t>;
using test_images::Rng;
using DecoderFn = uint32_t (*)(uint8_t*, uint32_t, const uint8_t*, uint32_t);

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

struct Decoded {
  uint32_t produced;
  Bytes bytes;  // the first `produced` bytes
};

// Runs a decoder with the packed bytes in a heap block of exactly
// packed.size() bytes (so ASan reports any read past it) and an output
// buffer that starts out as junk and is followed by guard bytes.
Decoded Decode(DecoderFn decoder, const Bytes& packed, uint32_t unpackedLength) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[packed.size()]);
  if (!packed.empty()) std::memcpy(in.get(), packed.data(), packed.size());
  Bytes out(unpackedLength + kGuard, kGuardByte);
  for (uint32_t i = 0; i < unpackedLength; ++i) out[i] = static_cast<uint8_t>(i * 37 + 11);

  const uint32_t produced = decoder(out.data(), unpackedLength, in.get(), static_cast<uint32_t>(packed.size()));

  EXPECT_LE(produced, unpackedLength);
  for (size_t i = unpackedLength; i < out.size(); ++i) {
    if (out[i] != kGuardByte) {
      ADD_FAILURE() << "byte " << i - unpackedLength << " past the output was written";
      break;
    }
  }
  out.resize(std::min(produced, unpackedLength));
  return {produced, out};
}

// Compares a decoder with the reference decoder on the same input.
void ExpectSameAsReference(DecoderFn decoder, const Bytes& packed, uint32_t unpackedLength, const std::string& what) {
  SCOPED_TRACE(what);
  uint32_t expectedCount = 0;
  Bytes expected = lzss_test::LzssReferenceDecode(packed.data(), packed.size(), unpackedLength, &expectedCount);
  expected.resize(expectedCount);
  const Decoded got = Decode(decoder, packed, unpackedLength);
  ASSERT_EQ(got.produced, expectedCount);
  if (got.bytes != expected) {
    const auto diff = std::mismatch(got.bytes.begin(), got.bytes.end(), expected.begin());
    FAIL() << "first difference at output byte " << (diff.first - got.bytes.begin());
  }
}

// Packs `data`, checks the reference decoder restores it, then checks the
// decoder under test against it.
void ExpectRoundTrip(DecoderFn decoder, const Bytes& data, const std::string& what) {
  SCOPED_TRACE(what);
  const Bytes packed = lzss_test::LzssEncode(data.data(), data.size());
  uint32_t count = 0;
  const Bytes back = lzss_test::LzssReferenceDecode(packed.data(), packed.size(), static_cast<uint32_t>(data.size()), &count);
  ASSERT_EQ(count, data.size());
  ASSERT_TRUE(back == data) << "the encoder's stream does not decode to its input";
  const Decoded got = Decode(decoder, packed, static_cast<uint32_t>(data.size()));
  ASSERT_EQ(got.produced, data.size());
  EXPECT_TRUE(got.bytes == data);
}

Bytes RandomBytes(Rng& rng, size_t size) {
  Bytes b(size);
  for (auto& c : b) c = static_cast<uint8_t>(rng.Next());
  return b;
}

// A stream like an encoder would write, but with distances chosen to hit
// every copy strategy: short periods, the window's far end, and the rest.
// Literals come in runs, often spanning whole groups, and are often 0xFF,
// the flag byte of an all-literal group.
lzss_test::PackedStream PlausibleStream(Rng& rng, uint32_t tokens) {
  lzss_test::PackedStream s;
  for (uint32_t i = 0; i < tokens; ++i) {
    const uint32_t kind = rng.Below(10);
    if (kind < 3) {
      for (uint32_t run = 1 + rng.Below(30); run > 0; --run) {
        s.Literal(rng.Below(4) == 0 ? 0xFF : static_cast<uint8_t>(rng.Next()));
      }
    } else {
      uint32_t distance;
      if (kind < 6) distance = 1 + rng.Below(20);
      else if (kind < 7) distance = 4096 - rng.Below(8);
      else distance = 1 + rng.Below(4096);
      s.MatchBack(distance, 3 + rng.Below(16));
    }
  }
  return s;
}

// Both register widths run every test: the 32-bit and 64-bit builds take
// different copy paths for short periods.
class LzssDecoderTest : public ::testing::TestWithParam<DecoderFn> {
 protected:
  Decoded Decode(const Bytes& packed, uint32_t length) { return ::Decode(GetParam(), packed, length); }
  void ExpectSameAsReference(const Bytes& packed, uint32_t length, const std::string& what) {
    ::ExpectSameAsReference(GetParam(), packed, length, what);
  }
  void ExpectRoundTrip(const Bytes& data, const std::string& what) { ::ExpectRoundTrip(GetParam(), data, what); }
};

INSTANTIATE_TEST_SUITE_P(WordWidths, LzssDecoderTest, ::testing::Values(LzssDecoder, LzssDecoderOtherWordWidth),
                         [](const ::testing::TestParamInfo<DecoderFn>& info) {
                           return std::string(info.param == LzssDecoder ? "Native" : "OtherWidth");
                         });

TEST_P(LzssDecoderTest, DecodesHandWrittenStreams) {
  // Literal 'A', then a match at the first write position, overlapping the
  // bytes it produces; cut short when the output is smaller.
  const Bytes overlap = {0x01, 0x41, 0xEE, 0xF2};
  Decoded d = Decode(overlap, 6);
  EXPECT_EQ(d.produced, 6u);
  EXPECT_EQ(d.bytes, Bytes(6, 0x41));
  d = Decode(overlap, 4);
  EXPECT_EQ(d.produced, 4u);
  EXPECT_EQ(d.bytes, Bytes(4, 0x41));

  // The window starts zeroed, so a stream may begin with a match.
  d = Decode({0x00, 0x00, 0x0F}, 18);
  EXPECT_EQ(d.produced, 18u);
  EXPECT_EQ(d.bytes, Bytes(18, 0));

  // A match at window position 4095 wraps: it reads positions 4095, 0 and 1,
  // which output bytes 17, 18 and 19 (values 18, 19, 20) were written to.
  lzss_test::PackedStream s;
  Bytes expected;
  for (uint8_t c = 1; c <= 20; ++c) {
    s.Literal(c);
    expected.push_back(c);
  }
  s.MatchAt(4095, 3);
  expected.insert(expected.end(), {18, 19, 20});
  d = Decode(s.bytes(), 23);
  EXPECT_EQ(d.produced, 23u);
  EXPECT_EQ(d.bytes, expected);
}

TEST_P(LzssDecoderTest, StopsAtTheEndOfThePackedBytes) {
  // 'A', 'B', then a match whose second byte is missing: the match is not
  // decoded, and nothing at all comes from an empty stream.
  Decoded d = Decode({0x03, 0x41, 0x42, 0xEE}, 100);
  EXPECT_EQ(d.produced, 2u);
  EXPECT_EQ(d.bytes, (Bytes{0x41, 0x42}));
  EXPECT_EQ(Decode({}, 10).produced, 0u);
  EXPECT_EQ(Decode({0xFF}, 10).produced, 0u);
  // A zero-length output reads nothing, not even a flag byte.
  EXPECT_EQ(Decode({}, 0).produced, 0u);
}

TEST_P(LzssDecoderTest, RoundTripsVariedData) {
  Rng rng(1);
  for (size_t size : {0, 1, 2, 3, 17, 18, 19, 20, 4095, 4096, 4097}) {
    ExpectRoundTrip(Bytes(size, 0), "zeros of " + std::to_string(size));
    ExpectRoundTrip(RandomBytes(rng, size), "random of " + std::to_string(size));
  }

  Bytes runs;
  while (runs.size() < 70000) runs.insert(runs.end(), 1 + rng.Below(300), static_cast<uint8_t>(rng.Below(4)));
  ExpectRoundTrip(runs, "runs");

  const std::string words[] = {"the ", "window ", "ring ", "ZORVAN ", "picture ", "of ", "a ", "palette\n"};
  Bytes text;
  while (text.size() < 80000) {
    const std::string& w = words[rng.Below(8)];
    text.insert(text.end(), w.begin(), w.end());
  }
  ExpectRoundTrip(text, "text");

  // Short repeating periods of every length up to 40, back to back.
  Bytes periods;
  for (uint32_t period = 1; period <= 40; ++period) {
    const Bytes unit = RandomBytes(rng, period);
    for (int i = 0; i < 400; ++i) periods.push_back(unit[i % period]);
  }
  ExpectRoundTrip(periods, "periods");

  ExpectRoundTrip(RandomBytes(rng, 100000), "random");
  ExpectRoundTrip(test_images::MakeTruecolorPicture(300, 200), "truecolor picture");
  ExpectRoundTrip(test_images::MakePalettePicture(400, 300), "palette picture");
}

TEST_P(LzssDecoderTest, EveryDistanceAndLengthMatchesTheReference) {
  // After a warm-up of random literals, every length with distances that
  // cover each copy strategy, in groups with varying literal layouts.
  Rng rng(2);
  std::vector<uint32_t> distances;
  for (uint32_t d = 1; d <= 40; ++d) distances.push_back(d);
  for (uint32_t d : {47, 48, 64, 100, 255, 256, 1000, 4077, 4078, 4079, 4094, 4095, 4096}) distances.push_back(d);

  lzss_test::PackedStream s;
  while (s.produced() < 4200) s.Literal(static_cast<uint8_t>(rng.Next()));
  for (uint32_t d : distances) {
    for (uint32_t n = 3; n <= 18; ++n) {
      s.MatchBack(d, n);
      if (rng.Below(3) == 0) s.Literal(static_cast<uint8_t>(rng.Next()));
    }
  }
  ExpectSameAsReference(s.bytes(), s.produced(), "all distances");
}

TEST_P(LzssDecoderTest, EveryTruncationMatchesTheReference) {
  // Long enough to leave the start-up path; each cut point ends the stream
  // mid-group or mid-token somewhere, in both decoding paths.
  Rng rng(3);
  const lzss_test::PackedStream s = PlausibleStream(rng, 700);
  const Bytes& full = s.bytes();
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    ExpectSameAsReference(Bytes(full.begin(), full.begin() + cut), s.produced(), "cut at " + std::to_string(cut));
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

TEST_P(LzssDecoderTest, EveryOutputLengthMatchesTheReference) {
  // Mostly whole groups of 18-byte matches, the most output a group can
  // make, so that a short output buffer ends inside such a group. Runs of
  // one byte and repeats of a 17-byte unit, whose copies store the most
  // bytes past the match.
  Rng rng(5);
  Bytes data;
  while (data.size() < 4900) {
    data.insert(data.end(), 150 + rng.Below(200), static_cast<uint8_t>(rng.Below(3)));
    const Bytes unit = RandomBytes(rng, 17);
    for (uint32_t i = 0, count = 150 + rng.Below(200); i < count; ++i) data.push_back(unit[i % 17]);
  }
  const Bytes packed = lzss_test::LzssEncode(data.data(), data.size());
  for (uint32_t length = 0; length <= data.size(); ++length) {
    ExpectSameAsReference(packed, length, "length " + std::to_string(length));
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

TEST_P(LzssDecoderTest, RandomStreamsMatchTheReference) {
  Rng rng(4);
  for (int i = 0; i < 3000; ++i) {
    Bytes packed;
    uint32_t length;
    if (i % 2 == 0) {
      // Arbitrary bytes: mostly matches at random distances.
      packed = RandomBytes(rng, rng.Below(6000));
      length = rng.Below(40000);
    } else {
      const lzss_test::PackedStream s = PlausibleStream(rng, rng.Below(1200));
      packed = s.bytes();
      // Often the exact length, otherwise shorter (the output fills up
      // first) or longer (the packed bytes run out first).
      const uint32_t choice = rng.Below(3);
      length = choice == 0 ? s.produced() : choice == 1 ? rng.Below(s.produced() + 1) : s.produced() + rng.Below(50);
    }
    ExpectSameAsReference(packed, length, "random stream " + std::to_string(i));
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

}  // namespace
