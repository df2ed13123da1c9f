// The writer's LZSS encoder: every stream it writes must unpack through the
// picture plug-in's own decoder, the optimal parse must cost exactly what a
// brute-force search finds, and the match finder under it must find the
// true longest match everywhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lzss_brute_force.h"
#include "lzss_decoder.h"
#include "lzss_encoder.h"
#include "tool_error.h"
#include "lzss_match_finder.h"
#include "test_images.h"

namespace {

using Bytes = std::vector<uint8_t>;
using test_images::Rng;
using writer::LzssEncoder;
using writer::LzssParse;

struct Sample {
  std::string name;
  Bytes bytes;
};

Bytes RandomBytes(Rng& rng, size_t size, uint32_t alphabet) {
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng.Below(alphabet));
  return bytes;
}

Bytes Repeat(const Bytes& period, size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = period[i % period.size()];
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Decodes `packed` with the plug-in's decoder from a block of exactly its
// size, and checks that it gives `input` back.
void ExpectUnpacksTo(const Bytes& packed, const Bytes& input, const std::string& what) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[packed.size() + 1]);
  if (!packed.empty()) std::memcpy(exact.get(), packed.data(), packed.size());
  Bytes out(input.size() + 1, 0xA5);
  const uint32_t size = static_cast<uint32_t>(input.size());
  EXPECT_EQ(LzssDecoder(out.data(), size, exact.get(), static_cast<uint32_t>(packed.size())), size) << what;
  out.pop_back();
  EXPECT_TRUE(out == input) << what << ": unpacked bytes differ";
}

// The bits of a stream's tokens, checking that they cover the input exactly.
uint64_t StreamBits(const Bytes& packed, size_t size, const std::string& what) {
  uint64_t bits = 0;
  EXPECT_TRUE(lzss_brute_force::StreamBits(packed, size, &bits)) << what << ": tokens do not end with the input";
  return bits;
}

std::vector<Sample> RoundTripSamples() {
  Rng rng(0x1255);
  std::vector<Sample> samples;
  for (size_t n = 0; n <= 20; ++n) {
    samples.push_back({"zeros " + std::to_string(n), Bytes(n, 0)});
    samples.push_back({"ones " + std::to_string(n), Bytes(n, 1)});
    samples.push_back({"random " + std::to_string(n), RandomBytes(rng, n, 256)});
    samples.push_back({"binary " + std::to_string(n), RandomBytes(rng, n, 2)});
  }
  const Bytes block = RandomBytes(rng, 4096, 256);
  const Bytes smallAlphabetBlock = RandomBytes(rng, 4096, 3);
  samples.push_back({"run", Bytes(100000, 0xFF)});
  samples.push_back({"zeros then random", Concat(Bytes(5000, 0), RandomBytes(rng, 5000, 256))});
  samples.push_back({"random then zeros", Concat(RandomBytes(rng, 4070, 256), Bytes(200, 0))});
  samples.push_back({"period 4096", Repeat(block, 5 * 4096 + 77)});
  samples.push_back({"period 4095", Repeat(Bytes(block.begin(), block.end() - 1), 5 * 4096)});
  samples.push_back({"period 4097", Repeat(Concat(block, {7}), 5 * 4096)});
  samples.push_back({"period 4096, three symbols", Repeat(smallAlphabetBlock, 4 * 4096 + 5)});
  samples.push_back({"period 17", Repeat(RandomBytes(rng, 17, 256), 30000)});
  samples.push_back({"four symbols", RandomBytes(rng, 200000, 4)});
  samples.push_back({"truecolor picture", test_images::MakeTruecolorPicture(512, 512)});
  samples.push_back({"palette picture", test_images::MakePalettePicture(1024, 1024)});
  samples.push_back({"noise", test_images::MakeNoise(1 << 20, 99)});
  return samples;
}

TEST(LzssEncoder, BothParsesUnpackThroughThePluginAndOptimalIsNeverLarger) {
  // One encoder of each kind for everything, as a batch packer uses them.
  LzssEncoder optimal(LzssParse::Optimal);
  LzssEncoder greedy(LzssParse::Greedy);
  for (const Sample& s : RoundTripSamples()) {
    const Bytes best = optimal.Encode(s.bytes.data(), s.bytes.size());
    const Bytes fast = greedy.Encode(s.bytes.data(), s.bytes.size());
    ExpectUnpacksTo(best, s.bytes, s.name + " (optimal)");
    ExpectUnpacksTo(fast, s.bytes, s.name + " (greedy)");
    EXPECT_LE(StreamBits(best, s.bytes.size(), s.name), StreamBits(fast, s.bytes.size(), s.name)) << s.name;
    EXPECT_LE(best.size(), fast.size()) << s.name;
  }
  // Working memory left from larger inputs changes nothing.
  Rng rng(5);
  const Bytes text = RandomBytes(rng, 3000, 5);
  EXPECT_EQ(optimal.Encode(text.data(), text.size()), LzssEncoder().Encode(text.data(), text.size()));
}

TEST(LzssEncoder, OptimalParseCostsWhatBruteForceFinds) {
  Rng rng(0x0B7);
  std::vector<Sample> samples;
  for (int k = 0; k < 120; ++k) {
    const size_t size = 1 + rng.Below(k < 60 ? 40 : 400);
    const uint32_t alphabets[] = {1, 2, 3, 4, 256};
    Bytes bytes = RandomBytes(rng, size, alphabets[k % 5]);
    if (k % 3 == 1) {
      // Short periods with a few changes: overlapping matches and many
      // equally good parses.
      Bytes period = RandomBytes(rng, 1 + rng.Below(12), 256);
      bytes = Repeat(period, size);
      for (int m = 0; m < 3; ++m) bytes[rng.Below(static_cast<uint32_t>(size))] ^= 1;
    } else if (k % 3 == 2) {
      // Zeros inside, to be taken from the window before the start.
      for (size_t i = 0; i < size; ++i) if (rng.Below(4) != 0) bytes[i] = 0;
    }
    samples.push_back({"sample " + std::to_string(k), bytes});
  }
  LzssEncoder optimal;
  for (const Sample& s : samples) {
    const lzss_brute_force::Parse oracle = lzss_brute_force::OptimalParse(s.bytes.data(), s.bytes.size());
    const Bytes oracleStream = lzss_brute_force::Pack(s.bytes.data(), oracle);
    ExpectUnpacksTo(oracleStream, s.bytes, s.name + " (brute force)");
    ASSERT_EQ(StreamBits(oracleStream, s.bytes.size(), s.name), oracle.bits) << s.name;

    const Bytes packed = optimal.Encode(s.bytes.data(), s.bytes.size());
    ExpectUnpacksTo(packed, s.bytes, s.name);
    EXPECT_EQ(StreamBits(packed, s.bytes.size(), s.name), oracle.bits) << s.name;
    EXPECT_EQ(packed.size(), oracleStream.size()) << s.name;
  }
}

// The longest match at every position, trying every distance everywhere:
// for each distance, how many bytes from each position on equal the bytes
// that far back (zeros before the start), up to 18.
std::vector<uint32_t> LongestMatchesByBruteForce(const Bytes& bytes) {
  const size_t n = bytes.size();
  std::vector<uint32_t> longest(n, 0);
  std::vector<uint32_t> equalFrom(n + 1, 0);
  // Plain pointers: this loop runs 4096 times over the input, also in
  // unoptimised sanitizer builds.
  const uint8_t* const b = bytes.data();
  uint32_t* const equal = equalFrom.data();
  uint32_t* const best = longest.data();
  for (size_t distance = 1; distance <= 4096; ++distance) {
    for (size_t i = n; i-- > 0;) {
      const uint8_t source = i < distance ? 0 : b[i - distance];
      equal[i] = source == b[i] ? std::min<uint32_t>(equal[i + 1] + 1, 18) : 0;
      best[i] = std::max(best[i], equal[i]);
    }
  }
  for (uint32_t& length : longest) length = length >= 3 ? length : 0;
  return longest;
}

TEST(LzssMatchFinder, FindsTheLongestMatchAtEveryPosition) {
  // Deep trees (few symbols), keys that repeat exactly one window back,
  // and zeros that must come from the window before the start.
  Rng rng(0xF17D);
  // Past the finder's ring of 8192 nodes.
  Bytes periodic = Repeat(RandomBytes(rng, 4096, 4), 8600);
  for (int m = 0; m < 200; ++m) periodic[rng.Below(static_cast<uint32_t>(periodic.size()))] ^= 1;
  // Runs and short repeats, as in flat and dithered picture areas, up to
  // the very end.
  Bytes repeats;
  while (repeats.size() < 3000) {
    const Bytes period = RandomBytes(rng, 1 + rng.Below(rng.Below(2) ? 1 : 6), 3);
    repeats = Concat(repeats, Repeat(period, 1 + rng.Below(80)));
  }
  const std::vector<Sample> samples = {
      {"two symbols", RandomBytes(rng, 4500, 2)},
      {"runs and short repeats", repeats},
      {"period 4096 with changes", periodic},
      {"zeros around the window's start",
       Concat(Concat(RandomBytes(rng, 4060, 256), Bytes(60, 0)), RandomBytes(rng, 100, 2))},
  };
  writer::LzssMatchFinder finder;
  for (const Sample& s : samples) {
    std::vector<uint8_t> lengths(s.bytes.size());
    std::vector<uint16_t> distances(s.bytes.size());
    finder.FindAll(s.bytes.data(), s.bytes.size(), lengths.data(), distances.data());
    const std::vector<uint32_t> longest = LongestMatchesByBruteForce(s.bytes);
    int failures = 0;
    for (size_t i = 0; i < s.bytes.size() && failures < 5; ++i) {
      const uint32_t expected = longest[i];
      bool ok = lengths[i] == expected;
      if (ok && expected != 0) {
        // The reported distance gives that length.
        const size_t d = distances[i];
        for (size_t k = 0; k < expected && ok; ++k) {
          ok = d >= 1 && d <= 4096 && (i + k < d ? 0 : s.bytes[i + k - d]) == s.bytes[i + k];
        }
      }
      if (!ok) {
        ++failures;
        ADD_FAILURE() << s.name << " at " << i << ": found " << int{lengths[i]} << " at distance "
                      << distances[i] << ", longest is " << expected;
      }
    }
  }
}

TEST(LzssEncoder, RefusesInputsBeyondThe32BitLength) {
  if (sizeof(size_t) <= 4) GTEST_SKIP() << "no such sizes here";
  const uint8_t byte = 0;
  LzssEncoder encoder;
  // Refused before a byte is read or anything allocated.
  EXPECT_THROW(encoder.Encode(&byte, static_cast<size_t>(UINT32_MAX) + 1), files::ToolError);
}

}  // namespace
