// Throughput of the picture LZSS decoder against a plain ring-window decoder
// and memcpy, on three kinds of picture data packed by the test encoder.
//
//   lzss_bench [benchmark flags]
//       runs the benchmarks and prints a table of speed ratios to the plain
//       decoder, measured in the same run.
//   lzss_bench --decode-once=STREAM:DECODER[:COUNT]
//       STREAM is picture, palette or noise; DECODER is fast, plain or none.
//       Builds the stream, then decodes it COUNT times (default 1) and exits.
//       Meant for callgrind, collecting only the decoder:
//         valgrind --tool=callgrind --toggle-collect='LzssDecoder*'
//                  lzss_bench --decode-once=picture:fast
//       ('lzss_test::LzssPlainDecode*' for the plain one), or subtract the totals
//       of a COUNT=0 run from a COUNT=1 run. Divide by the printed size.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lzss_decoder.h"
#include "lzss_test_codec.h"
#include "test_images.h"

// The baseline is the format's algorithm as written, ring window and all,
// one byte at a time (lzss_test::LzssPlainDecode). It stops on a token whose
// bytes are missing, like LzssDecoder, so both do the same work.

namespace {

struct Stream {
  std::string name;
  std::vector<uint8_t> raw;
  std::vector<uint8_t> packed;
};

std::vector<uint8_t> MakeRaw(const std::string& name) {
  using namespace test_images;
  if (name == "picture") return MakeTruecolorPicture(kBenchWidth, kBenchHeight);
  if (name == "palette") return MakePalettePicture(kBenchWidth, kBenchHeight);
  if (name == "noise") return MakeNoise(size_t{kBenchWidth} * kBenchHeight, 0xC0FFEE);
  return {};
}

Stream MakeStream(const std::string& name) {
  Stream s{name, MakeRaw(name), {}};
  s.packed = lzss_test::LzssEncode(s.raw.data(), s.raw.size());
  return s;
}

using Decoder = uint32_t (*)(uint8_t*, uint32_t, const uint8_t*, uint32_t);

Decoder DecoderByName(const std::string& name) {
  if (name == "fast") return LzssDecoder;
  if (name == "plain") return lzss_test::LzssPlainDecode;
  return nullptr;
}

void BenchDecode(benchmark::State& state, const Stream* s, Decoder decode) {
  std::vector<uint8_t> out(s->raw.size());
  const auto size = static_cast<uint32_t>(out.size());
  for (auto _ : state) {
    const uint32_t produced = decode(out.data(), size, s->packed.data(), static_cast<uint32_t>(s->packed.size()));
    benchmark::DoNotOptimize(produced);
    benchmark::ClobberMemory();
  }
  if (out != s->raw) state.SkipWithError("decoded output differs from the original");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

void BenchMemcpy(benchmark::State& state, const Stream* s) {
  std::vector<uint8_t> out(s->raw.size());
  for (auto _ : state) {
    std::memcpy(out.data(), s->raw.data(), out.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
}

// Console output as usual, plus the times kept for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions, prefer the median over single runs.
      const bool aggregate = run.run_type == Run::RT_Aggregate;
      if (aggregate && run.aggregate_name != "median") continue;
      const std::string key = run.run_name.str();
      if (!aggregate && medians_.count(key)) continue;
      const double bytesPerSecond = run.counters.count("bytes_per_second")
                                        ? static_cast<double>(run.counters.at("bytes_per_second"))
                                        : 0.0;
      (aggregate ? medians_ : singles_)[key] = bytesPerSecond;
    }
  }

  double BytesPerSecond(const std::string& key) const {
    if (auto it = medians_.find(key); it != medians_.end()) return it->second;
    if (auto it = singles_.find(key); it != singles_.end()) return it->second;
    return 0.0;
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, double> singles_;
};

int DecodeOnce(const std::string& request) {
  // STREAM:DECODER[:COUNT]
  const size_t c1 = request.find(':');
  if (c1 == std::string::npos) return 2;
  const size_t c2 = request.find(':', c1 + 1);
  const std::string streamName = request.substr(0, c1);
  const std::string decoderName = request.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
  const int count = c2 == std::string::npos ? 1 : std::atoi(request.c_str() + c2 + 1);
  const Stream s = MakeStream(streamName);
  const Decoder decode = DecoderByName(decoderName);
  if (s.raw.empty() || (!decode && decoderName != "none")) return 2;
  std::vector<uint8_t> out(s.raw.size());
  for (int i = 0; i < count; ++i) {
    decode(out.data(), static_cast<uint32_t>(out.size()), s.packed.data(), static_cast<uint32_t>(s.packed.size()));
  }
  const bool ok = count == 0 || out == s.raw;
  std::printf("%s: %zu bytes out, %zu packed, %s x%d%s\n", streamName.c_str(), s.raw.size(), s.packed.size(),
              decoderName.c_str(), count, ok ? "" : " MISMATCH");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char kFlag[] = "--decode-once=";
    if (std::strncmp(argv[i], kFlag, sizeof kFlag - 1) == 0) {
      const int rc = DecodeOnce(argv[i] + sizeof kFlag - 1);
      if (rc == 2) std::fprintf(stderr, "usage: --decode-once=picture|palette|noise:fast|plain|none[:COUNT]\n");
      return rc;
    }
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  static std::vector<Stream> streams;
  for (const char* name : {"picture", "palette", "noise"}) streams.push_back(MakeStream(name));
  for (const Stream& s : streams) {
    std::printf("%-8s %9zu bytes packed to %9zu (%.1f%%)\n", s.name.c_str(), s.raw.size(), s.packed.size(),
                100.0 * static_cast<double>(s.packed.size()) / static_cast<double>(s.raw.size()));
    benchmark::RegisterBenchmark(("decode/" + s.name + "/fast").c_str(), BenchDecode, &s, DecoderByName("fast"))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/" + s.name + "/plain").c_str(), BenchDecode, &s, DecoderByName("plain"))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/" + s.name + "/memcpy").c_str(), BenchMemcpy, &s)
        ->Unit(benchmark::kMillisecond);
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-8s %12s %12s %12s %10s %10s\n", "stream", "fast MB/s", "plain MB/s", "memcpy MB/s", "fast/plain",
              "fast/memcpy");
  for (const Stream& s : streams) {
    const double fast = reporter.BytesPerSecond("decode/" + s.name + "/fast");
    const double plain = reporter.BytesPerSecond("decode/" + s.name + "/plain");
    const double copy = reporter.BytesPerSecond("decode/" + s.name + "/memcpy");
    if (fast == 0.0 && plain == 0.0 && copy == 0.0) continue;  // filtered out
    auto ratio = [](double a, double b) { return b > 0.0 ? a / b : 0.0; };
    std::printf("%-8s %12.0f %12.0f %12.0f %9.2fx %9.2fx\n", s.name.c_str(), fast / 1e6, plain / 1e6, copy / 1e6,
                ratio(fast, plain), ratio(fast, copy));
  }
  return 0;
}
