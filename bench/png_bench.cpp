// Converting a plain bitmap file to PNG our way (read it, RenderDib,
// EncodePng, write the PNG) against ImageMagick's `convert in.bmp out.png`,
// on the generated 2048 x 2048 truecolour and palette pictures and on the
// photographs and screen content that bench/png_corpus.py makes from Debian
// packages. Runs are interleaved and summarised by medians; every file lives
// under /dev/shm.
//
//   png_bench [--rounds N] [--level L,...]  the default settings (or these levels) against convert
//   png_bench --sweep [--rounds N]      each level and filter set, then convert
//   png_bench --command 'CMD' [--rounds N]
//       a converter program against convert, e.g.
//       --command 'dist/zorv convert {packed} -o {out}'
//       ({bmp}: the plain bitmap file, {packed}: the same picture packed)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
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

void Spawn(std::vector<std::string> args, const char* output = nullptr);

// The real pictures, made by bench/png_corpus.py (which names each file it
// writes on a line of its own), packed too when a command asks for that.
std::vector<Picture> CorpusPictures(bool packed) {
    const std::string list = kFolder + "/corpus.txt";
    Spawn({ZORV_SOURCE_DIR "/bench/png_corpus.py", kFolder + "/corpus"}, list.c_str());
    std::vector<Picture> pictures;
    std::ifstream names(list);
    for (std::string bmp; std::getline(names, bmp);) {
        if (bmp.empty()) continue;
        const std::string stem = bmp.substr(bmp.rfind('/') + 1, bmp.size() - bmp.rfind('/') - 5);
        Picture p{stem, bmp, kFolder + "/corpus/" + stem + ".packed"};
        if (packed) WriteFile(p.packed, bitmap_builder::PackBitmap(ReadFile(bmp)));
        pictures.push_back(p);
    }
    return pictures;
}

// The benchmark pictures as bottom-up bitmap files; the palette picture gets
// a table of 256 distinct colours.
std::vector<Picture> WritePictures(bool packed) {
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
    for (Picture& p : CorpusPictures(packed)) pictures.push_back(p);
    return pictures;
}

// What a host does with a plain bitmap file: the info part (the header and
// its table, up to where the bits start), the bits behind it.
void ConvertInProcess(const std::string& in, const std::string& out, const host::PngSettings& settings) {
    const Bytes file = ReadFile(in);
    const size_t bitsAt = file[10] | file[11] << 8 | file[12] << 16 | size_t(file[13]) << 24;
    if (file.size() < 54 || bitsAt < 54 || bitsAt > file.size()) throw std::runtime_error(in + ": not a plain bitmap");
    host::Rendering r = host::RenderDib(&file[14], bitsAt - 14, &file[bitsAt], file.size() - bitsAt);
    WriteFile(out, host::EncodePng(std::move(r.pixels), settings));
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

// Starts a program, its standard output into `output` when given.
pid_t Start(std::vector<std::string>& args, const char* output) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot run " + args[0]);
    return pid;
}

void Spawn(std::vector<std::string> args, const char* output) {
    int status = 0;
    waitpid(Start(args, output), &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " failed");
}

Time RunProcess(std::vector<std::string> args) {
    const auto start = Clock::now();
    const pid_t pid = Start(args, nullptr);
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
    std::vector<std::vector<double>> wall, cpu;  // by picture, then round
    std::vector<long> sizes;
};

Time TimeOnce(Contender& c, const Picture& p, const std::string& out) {
    if (!c.command.empty()) return RunProcess(SplitCommand(c.command, p, out));
    const auto start = Clock::now();
    const double cpu = CpuOfSelf();
    ConvertInProcess(p.bmp, out, c.settings);
    return {std::chrono::duration<double>(Clock::now() - start).count(), CpuOfSelf() - cpu};
}

// The settings the default was chosen from: every level with all five
// filters, the default level with fewer filters, and without band trials. Filters apply to
// truecolour pictures only: palette indices are never filtered.
std::vector<Contender> Candidates() {
    struct Named {
        const char* name;
        int value;
    };
    const Named filters[] = {{"none", host::kPngFilterNone},
                             {"sub|up|avg", host::kPngFilterSub | host::kPngFilterUp | host::kPngFilterAverage},
                             {"up|paeth", host::kPngFilterUp | host::kPngFilterPaeth}};
    std::vector<Contender> out;
    for (int level = 1; level <= host::kMaxPngLevel; ++level) {
        Contender c;
        c.label = "level " + std::to_string(level) + ", all five";
        c.settings.level = level;
        out.push_back(c);
    }
    for (const Named& filter : filters) {
        Contender c;
        c.label = "level " + std::to_string(host::kDefaultPngLevel) + ", " + filter.name;
        c.settings.level = host::kDefaultPngLevel;
        c.settings.filterChoice = filter.value;
        out.push_back(c);
    }
    // What the band trials gain: every row by the smallest sum, as other
    // writers do.
    Contender rowByRow;
    rowByRow.label = "default level, no band trials";
    rowByRow.settings.trialBands = false;
    out.push_back(rowByRow);
    return out;
}

int Run(std::vector<Contender> contenders, int rounds) {
    bool packed = false;
    for (const Contender& c : contenders) packed |= c.command.find("{packed}") != std::string::npos;
    const std::vector<Picture> pictures = WritePictures(packed);
    Contender convert;
    convert.label = "ImageMagick convert";
    convert.command = "convert {bmp} {out}";
    contenders.push_back(convert);
    for (Contender& c : contenders) {
        c.wall.resize(pictures.size());
        c.cpu.resize(pictures.size());
        c.sizes.resize(pictures.size());
    }
    const std::string out = kFolder + "/out.png";
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < pictures.size(); ++i)
            for (Contender& c : contenders) {
                const Time t = TimeOnce(c, pictures[i], out);
                c.wall[i].push_back(t.wall);
                c.cpu[i].push_back(t.cpu);
                c.sizes[i] = FileSize(out);
                unlink(out.c_str());
            }
    // One block a picture: each contender's median times, their ratio to
    // convert's, and the PNG's size against convert's.
    const Contender& baseline = contenders.back();
    for (size_t i = 0; i < pictures.size(); ++i) {
        std::printf("%s\n  %-38s %9s %6s %9s %6s %10s %7s\n", pictures[i].name.c_str(), "", "wall ms", "ratio",
                    "cpu ms", "ratio", "bytes", "size");
        for (const Contender& c : contenders) {
            const double wall = Median(c.wall[i]), cpu = Median(c.cpu[i]);
            std::printf("  %-38s %9.1f %6.3f %9.1f %6.3f %10ld %7.4f\n", c.label.c_str(), wall * 1e3,
                        wall / Median(baseline.wall[i]), cpu * 1e3, cpu / Median(baseline.cpu[i]), c.sizes[i],
                        double(c.sizes[i]) / double(baseline.sizes[i]));
        }
    }
    std::printf("(medians of %d interleaved rounds; ratios: to ImageMagick's convert of the same bitmap)\n", rounds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 9;
    bool sweep = false;
    std::string command;
    std::vector<int> levels;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sweep") sweep = true;
        else if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--command" && i + 1 < argc) command = argv[++i];
        else if (arg == "--level" && i + 1 < argc) {
            std::istringstream list(argv[++i]);
            for (std::string level; std::getline(list, level, ',');) levels.push_back(std::atoi(level.c_str()));
        }
        else {
            std::fprintf(stderr, "usage: png_bench [--sweep | --level L | --command 'CMD {bmp}|{packed} {out}'] [--rounds N]\n");
            return 3;
        }
    }
    try {
        if (sweep) return Run(Candidates(), rounds);
        if (!command.empty()) {
            Contender ours;
            ours.label = command;
            ours.command = command;
            return Run({ours}, rounds);
        }
        if (levels.empty()) levels.push_back(host::kPngLevelByKind);
        std::vector<Contender> ours;
        for (int level : levels) {
            Contender c;
            c.label = level == host::kPngLevelByKind ? "RenderDib + EncodePng, default level"
                                                     : "RenderDib + EncodePng, level " + std::to_string(level);
            c.settings.level = level;
            ours.push_back(c);
        }
        return Run(ours, rounds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "png_bench: %s\n", e.what());
        return 1;
    }
}
