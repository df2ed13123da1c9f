// Converting a plain bitmap file to PNG our way (read it, RenderDib,
// EncodePng, write the PNG) against ImageMagick's `convert in.bmp out.png`,
// on the 2048 x 2048 truecolour and palette benchmark pictures. Runs are
// interleaved and summarised by medians; every file lives under /dev/shm.
//
//   png_bench [--rounds N]          the chosen settings against convert
//   png_bench --sweep [--rounds N]  each candidate setting, then convert
//   png_bench --command 'CMD' [--rounds N]
//       a converter program against convert, e.g.
//       --command 'dist/zorv convert {packed} -o {out}'
//       ({bmp}: the plain bitmap file, {packed}: the same picture packed)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <spng.h>
#include <zlib.h>

#include "bench_timing.h"
#include "bitmap_builder.h"
#include "dib_pixels.h"
#include "png_file.h"
#include "test_images.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string kFolder = "/dev/shm/zorv-png-bench";

struct Picture {
    std::string name;
    std::string bmp, packed;  // paths
};

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

long FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// The benchmark pictures as bottom-up bitmap files; the palette picture gets
// a table of 256 distinct colours.
std::vector<Picture> WritePictures() {
    using namespace test_images;
    mkdir(kFolder.c_str(), 0755);
    std::vector<Picture> pictures;
    for (const std::string name : {"truecolor", "palette"}) {
        const bool truecolor = name == "truecolor";
        const uint32_t w = kBenchWidth, h = kBenchHeight, bpp = truecolor ? 3 : 1;
        const Bytes raw = truecolor ? MakeTruecolorPicture(w, h) : MakePalettePicture(w, h);
        Bytes pixels;  // rows are a multiple of 4 bytes already
        for (uint32_t y = h; y-- > 0;)
            pixels.insert(pixels.end(), raw.begin() + size_t(y) * w * bpp, raw.begin() + size_t(y + 1) * w * bpp);
        bitmap_builder::BitmapParts parts;
        parts.pixels = std::move(pixels);
        if (!truecolor)
            for (uint32_t i = 0; i < 256; ++i) parts.colours.push_back((i * 0x9E3779u) & 0xFFFFFF);
        const bitmap_builder::BitmapRecipe recipe{int32_t(w), int32_t(h), uint16_t(truecolor ? 24 : 8), 0, 0, 0, 0};
        const Bytes file = bitmap_builder::BuildBitmap(recipe, parts).file;
        Picture p{name, kFolder + "/" + name + ".bmp", kFolder + "/" + name + ".packed.bmp"};
        WriteFile(p.bmp, file);
        WriteFile(p.packed, bitmap_builder::PackBitmap(file));
        pictures.push_back(p);
    }
    return pictures;
}

// What a host does with a plain bitmap file: the info part as GetPicture
// sizes it (these two pictures: no masks), the bits behind it.
void ConvertInProcess(const std::string& in, const std::string& out, const host::PngSettings& settings) {
    const Bytes file = ReadFile(in);
    uint32_t bitCount = file[28];
    const size_t infoSize = bitCount <= 8 ? 40 + 4 * (size_t(1) << bitCount) : 40;
    const uint8_t* info = file.data() + 14;
    const host::Rendering r = host::RenderDib(info, infoSize, info + infoSize, file.size() - 14 - infoSize);
    WriteFile(out, host::EncodePng(r.pixels, settings));
}

// Wall-clock time, and the processor time (user and system) spent on it:
// the second depends far less on what else the machine is running.
struct Time {
    double wall = 0, cpu = 0;
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double CpuOfSelf() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

Time RunProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot run " + args[0]);
    int status = 0;
    rusage usage;
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) throw std::runtime_error(args[0] + " failed");
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            Seconds(usage.ru_utime) + Seconds(usage.ru_stime)};
}

std::vector<std::string> SplitCommand(const std::string& command, const Picture& p, const std::string& out) {
    std::vector<std::string> args;
    std::istringstream words(command);
    for (std::string word; words >> word;) {
        for (auto [key, value] : {std::pair<std::string, std::string>{"{bmp}", p.bmp}, {"{packed}", p.packed}, {"{out}", out}})
            if (auto at = word.find(key); at != std::string::npos) word.replace(at, key.size(), value);
        args.push_back(word);
    }
    return args;
}

struct Contender {
    std::string label;
    host::PngSettings settings;
    std::string command;  // empty: in process
    std::vector<double> wall[2], cpu[2];
    long sizes[2] = {0, 0};
};

Time TimeOnce(Contender& c, const Picture& p, const std::string& out) {
    if (!c.command.empty()) return RunProcess(SplitCommand(c.command, p, out));
    const auto start = Clock::now();
    const double cpu = CpuOfSelf();
    ConvertInProcess(p.bmp, out, c.settings);
    return {std::chrono::duration<double>(Clock::now() - start).count(), CpuOfSelf() - cpu};
}

// The settings the defaults were chosen from. Filters apply to the
// truecolour picture only: palette indices are never filtered.
std::vector<Contender> Candidates() {
    struct Named {
        const char* name;
        int value;
    };
    const Named filters[] = {{"none", SPNG_FILTER_CHOICE_NONE},
                             {"sub", SPNG_FILTER_CHOICE_SUB},
                             {"up", SPNG_FILTER_CHOICE_UP},
                             {"sub|up|avg", SPNG_FILTER_CHOICE_SUB | SPNG_FILTER_CHOICE_UP | SPNG_FILTER_CHOICE_AVG},
                             {"all five", SPNG_FILTER_CHOICE_ALL}};
    const Named strategies[] = {{"default", Z_DEFAULT_STRATEGY}, {"filtered", Z_FILTERED}, {"rle", Z_RLE}};
    std::vector<Contender> out;
    for (int level : {1, 6, 7, 9})
        for (const Named& strategy : strategies)
            for (const Named& filter : filters) {
                // Z_RLE looks for runs only, whatever the level.
                if (strategy.value == Z_RLE && (level != 6 || filter.value == SPNG_FILTER_CHOICE_NONE)) continue;
                Contender c;
                c.label = "level " + std::to_string(level) + " " + strategy.name + ", " + filter.name;
                c.settings.compressionLevel = level;
                c.settings.compressionStrategy = strategy.value;
                c.settings.filterChoice = filter.value;
                out.push_back(c);
            }
    return out;
}

int Run(std::vector<Contender> contenders, int rounds) {
    const std::vector<Picture> pictures = WritePictures();
    Contender convert;
    convert.label = "ImageMagick convert";
    convert.command = "convert {bmp} {out}";
    contenders.push_back(convert);
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < pictures.size(); ++i)
            for (Contender& c : contenders) {
                const std::string out = kFolder + "/out.png";
                const Time t = TimeOnce(c, pictures[i], out);
                c.wall[i].push_back(t.wall);
                c.cpu[i].push_back(t.cpu);
                c.sizes[i] = FileSize(out);
                unlink(out.c_str());
            }
    const Contender& baseline = contenders.back();
    std::printf("%-40s %36s %36s\n", "", "truecolor 2048x2048", "palette 2048x2048");
    std::printf("%-40s", "");
    for (int i = 0; i < 2; ++i) std::printf(" %7s %6s %7s %6s %7s", "wall ms", "ratio", "cpu ms", "ratio", "KiB");
    std::printf("\n");
    for (const Contender& c : contenders) {
        std::printf("%-40s", c.label.c_str());
        for (int i = 0; i < 2; ++i) {
            const double wall = Median(c.wall[i]), cpu = Median(c.cpu[i]);
            std::printf(" %7.1f %6.3f %7.1f %6.3f %7.1f", wall * 1e3, wall / Median(baseline.wall[i]), cpu * 1e3,
                        cpu / Median(baseline.cpu[i]), c.sizes[i] / 1024.0);
        }
        std::printf("\n");
    }
    std::printf("(medians of %d interleaved rounds; ratio: time / convert's time; sizes in bytes:", rounds);
    for (const Contender& c : contenders) std::printf(" %ld/%ld", c.sizes[0], c.sizes[1]);
    std::printf(")\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 9;
    bool sweep = false;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sweep") sweep = true;
        else if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--command" && i + 1 < argc) command = argv[++i];
        else {
            std::fprintf(stderr, "usage: png_bench [--sweep | --command 'CMD {bmp}|{packed} {out}'] [--rounds N]\n");
            return 3;
        }
    }
    try {
        if (sweep) return Run(Candidates(), rounds);
        Contender ours;
        ours.label = command.empty() ? "RenderDib + EncodePng (defaults)" : command;
        ours.command = command;
        return Run({ours}, rounds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "png_bench: %s\n", e.what());
        return 1;
    }
}
