// Speed and size of the writer's LZSS encoder (optimal and greedy parse)
// against Debian's python3-lzss, a classic greedy encoder, in one run:
// rounds interleave the three, and each figure is the median over rounds.
// python3-lzss is timed inside Python around its compress call only (no
// interpreter start, no file reading). Its window starts with spaces, not
// zeros, so only its sizes and speed are compared, never its bytes.
//
//   lzss_encoder_bench [--rounds=N] [--text=FILE] [--program=FILE]
//                      [--adversarial] [--python=PATH]
//
// Inputs: the benchmark pictures of the test images (24-bit, palette,
// noise), a text file (default /usr/share/common-licenses/GPL-3, which
// every Debian system has) and a program file (default /usr/bin/cmake,
// present wherever this project builds). --adversarial adds inputs built
// to make match finders slow: a long run, a period of exactly the window,
// a window-long period of few symbols. Generated inputs are written under
// /dev/shm for Python to read and removed afterwards.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "bench_timing.h"
#include "lzss_decoder.h"
#include "lzss_encoder.h"
#include "test_images.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A sample takes about this many input bytes (several calls for small
// inputs), so that small files are not timed at the clock's resolution.
constexpr size_t kBytesPerSample = 4u << 20;

const char kPythonTimer[] =
    "import lzss, sys, time\n"
    "data = open(sys.argv[1], 'rb').read()\n"
    "calls = int(sys.argv[2])\n"
    "start = time.perf_counter()\n"
    "for _ in range(calls): out = lzss.compress(data)\n"
    "print(len(out), (time.perf_counter() - start) / calls)\n";

struct Input {
  Input(std::string name, std::string path, bool generated, Bytes bytes)
      : name(std::move(name)), path(std::move(path)), generated(generated), bytes(std::move(bytes)) {}

  std::string name;
  std::string path;  // what Python reads
  bool generated;
  Bytes bytes;
  size_t calls = 1;
  size_t optimalSize = 0, greedySize = 0, pythonSize = 0;
  std::vector<double> optimalSeconds, greedySeconds, pythonSeconds;
};

bool ReadFile(const std::string& path, Bytes& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ShellQuoted(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Seconds per call of the encoder over `calls` calls; the output of the
// last call goes to `packed`.
double TimeEncoder(writer::LzssEncoder& encoder, const Bytes& input, size_t calls, Bytes& packed) {
  const auto start = Clock::now();
  for (size_t i = 0; i < calls; ++i) packed = encoder.Encode(input.data(), input.size());
  return std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(calls);
}

bool TimePython(const std::string& python, Input& input, double& seconds) {
  const std::string command = ShellQuoted(python) + " -c " + ShellQuoted(kPythonTimer) + " " +
                              ShellQuoted(input.path) + " " + std::to_string(input.calls);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  unsigned long long size = 0;
  const int fields = std::fscanf(pipe, "%llu %lf", &size, &seconds);
  const int status = pclose(pipe);
  input.pythonSize = static_cast<size_t>(size);
  return fields == 2 && status == 0;
}

bool Unpacks(const Bytes& packed, const Bytes& input) {
  Bytes out(input.size());
  const auto size = static_cast<uint32_t>(input.size());
  return LzssDecoder(out.data(), size, packed.data(), static_cast<uint32_t>(packed.size())) == size && out == input;
}

Bytes Repeat(const Bytes& period, size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = period[i % period.size()];
  return bytes;
}

Bytes RandomBytes(uint64_t seed, size_t size, uint32_t alphabet) {
  test_images::Rng rng(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng.Below(alphabet));
  return bytes;
}

std::string Flag(int argc, char** argv, const std::string& name, const std::string& fallback) {
  const std::string prefix = "--" + name + "=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return argv[i] + prefix.size();
  }
  return fallback;
}

bool HasFlag(int argc, char** argv, const std::string& name) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == "--" + name) return true;
  }
  return false;
}

double MegabytesPerSecond(size_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0.0; }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = std::max(1, std::atoi(Flag(argc, argv, "rounds", "5").c_str()));
  const std::string python = Flag(argc, argv, "python", "/usr/bin/python3");
  char folderTemplate[] = "/dev/shm/zorv-lzss-bench-XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) {
    std::perror("mkdtemp under /dev/shm");
    return 1;
  }
  const std::string folder = folderTemplate;

  using namespace test_images;
  std::vector<Input> inputs;
  auto generated = [&](const std::string& name, Bytes bytes) {
    inputs.emplace_back(name, folder + "/" + name, true, std::move(bytes));
  };
  generated("picture", MakeTruecolorPicture(kBenchWidth, kBenchHeight));
  generated("palette", MakePalettePicture(kBenchWidth, kBenchHeight));
  generated("noise", MakeNoise(size_t{kBenchWidth} * kBenchHeight, 0xC0FFEE));
  for (const auto& [name, fallback] : {std::pair<std::string, std::string>{"text", "/usr/share/common-licenses/GPL-3"},
                                       {"program", "/usr/bin/cmake"}}) {
    Input input(name, Flag(argc, argv, name, fallback), false, {});
    if (!ReadFile(input.path, input.bytes)) {
      std::fprintf(stderr, "cannot read %s (choose another with --%s=FILE)\n", input.path.c_str(), name.c_str());
      return 1;
    }
    inputs.push_back(std::move(input));
  }
  if (HasFlag(argc, argv, "adversarial")) {
    generated("run", Bytes(4u << 20, 0x55));
    generated("period-4096", Repeat(RandomBytes(1, 4096, 256), 4u << 20));
    generated("period-4096-2sym", Repeat(RandomBytes(2, 4096, 2), 4u << 20));
  }

  int status = 0;
  for (Input& input : inputs) {
    input.calls = std::max<size_t>(1, kBytesPerSample / std::max<size_t>(1, input.bytes.size()));
    if (input.generated && !WriteFile(input.path, input.bytes)) {
      std::fprintf(stderr, "cannot write %s\n", input.path.c_str());
      status = 1;
    }
  }

  writer::LzssEncoder optimal(writer::LzssParse::Optimal);
  writer::LzssEncoder greedy(writer::LzssParse::Greedy);
  for (int round = 0; round < rounds && status == 0; ++round) {
    for (Input& input : inputs) {
      Bytes packed;
      input.optimalSeconds.push_back(TimeEncoder(optimal, input.bytes, input.calls, packed));
      input.optimalSize = packed.size();
      if (round == 0 && !Unpacks(packed, input.bytes)) {
        std::fprintf(stderr, "%s: the optimal stream does not unpack to the input\n", input.name.c_str());
        status = 1;
      }
      input.greedySeconds.push_back(TimeEncoder(greedy, input.bytes, input.calls, packed));
      input.greedySize = packed.size();
      if (round == 0 && !Unpacks(packed, input.bytes)) {
        std::fprintf(stderr, "%s: the greedy stream does not unpack to the input\n", input.name.c_str());
        status = 1;
      }
      double seconds = 0;
      if (!TimePython(python, input, seconds)) {
        std::fprintf(stderr, "%s: python3-lzss failed (is python3-lzss installed for %s?)\n", input.name.c_str(),
                     python.c_str());
        status = 1;
        break;
      }
      input.pythonSeconds.push_back(seconds);
    }
  }
  for (const Input& input : inputs) {
    if (input.generated) unlink(input.path.c_str());
  }
  rmdir(folder.c_str());
  if (status != 0) return status;

  std::printf("median of %d interleaved rounds; sizes in bytes, speeds in MB/s of input\n\n", rounds);
  std::printf("%-17s %9s | %9s %7s | %9s %7s | %9s %7s | %7s %s\n", "input", "bytes", "optimal", "MB/s", "greedy",
              "MB/s", "python", "MB/s", "speedup", "(optimal vs python3-lzss: >= 1.5x, not larger)");
  for (const Input& input : inputs) {
    const double optimalSpeed = MegabytesPerSecond(input.bytes.size(), Median(input.optimalSeconds));
    const double greedySpeed = MegabytesPerSecond(input.bytes.size(), Median(input.greedySeconds));
    const double pythonSpeed = MegabytesPerSecond(input.bytes.size(), Median(input.pythonSeconds));
    const double speedup = pythonSpeed > 0 ? optimalSpeed / pythonSpeed : 0.0;
    const bool meets = speedup >= 1.5 && input.optimalSize <= input.pythonSize;
    std::printf("%-17s %9zu | %9zu %7.1f | %9zu %7.1f | %9zu %7.1f | %6.2fx %s\n", input.name.c_str(),
                input.bytes.size(), input.optimalSize, optimalSpeed, input.greedySize, greedySpeed, input.pythonSize,
                pythonSpeed, speedup, meets ? "meets" : "MISSES");
  }
  return 0;
}
