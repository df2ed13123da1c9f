// Fixtures for zorv's end-to-end tests and benchmarks, made with the
// project's own builders, each with the bytes zorv must deliver for it.
//
//   make_cli_fixtures fixtures DIR        test archives and pictures, and expected/
//   make_cli_fixtures large DIR N KIB     large.dat of N entries of KIB KiB, and large-files/
//   make_cli_fixtures tiny DIR            tiny.dat (the archive benchmark's 65,535
//                                         small entries), and tiny-files/
//   make_cli_fixtures pictures DIR        the 2048x2048 benchmark pictures, packed
//                                         (*.BMP) and plain (*-plain.bmp), and plain noise
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "bitmap_builder.h"
#include "test_images.h"

#ifdef _WIN32
#include <direct.h>
#define MakeFolder(path) _mkdir(path)
#else
#include <sys/stat.h>
#define MakeFolder(path) mkdir(path, 0777)
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using archive_builder::Entry;

void Write(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Audio(size_t codes, uint32_t seed, uint16_t channels = 1) {
    archive_builder::PwRecipe recipe;
    recipe.codes = archive_builder::Bytes(codes, seed);
    recipe.channels = channels;
    return archive_builder::MakePwAudio(recipe);
}

Bytes PackedPicture(const bitmap_builder::BitmapRecipe& recipe, char letter = 'B') {
    return bitmap_builder::PackBitmap(bitmap_builder::BuildBitmap(recipe).file, letter);
}

// Writes the archive, and into expected/<name>/ each entry as it is
// delivered, under its index ("3.bin"), for tests that match files to the
// listing.
void WriteArchive(const std::string& dir, const std::string& name, const archive_builder::ArchiveRecipe& recipe,
                  const std::vector<bool>& isAudio) {
    Write(dir + "/" + name + ".dat", archive_builder::BuildArchive(recipe));
    std::string expected = dir + "/expected/" + name;
    MakeFolder(expected.c_str());
    for (size_t i = 0; i < recipe.entries.size(); ++i) {
        const Bytes& data = recipe.entries[i].data;
        Write(expected + "/" + std::to_string(i) + ".bin", isAudio[i] ? archive_builder::ExpectedWave(data) : data);
    }
}

// An archive with what a byte-for-byte rebuild must carry: every kind of
// entry, coded audio with odd headers (format length 16 and 20, an extra
// length, bytes after the codes, stereo), names with two-byte characters
// (one ending in 0x5C) and bytes after a name's terminator, empty entries
// first, in a row and last, junk between the data and the directory, and
// bytes after it, and an entry that only looks like a packed picture.
Bytes OddArchive() {
    archive_builder::PwRecipe short16, wide20, stereo;
    short16.codes = archive_builder::Bytes(300, 21);
    short16.formatLength = 16;
    wide20.codes = archive_builder::Bytes(200, 22);
    wide20.formatLength = 20;
    wide20.extraLength = 2;
    wide20.trailing = 5;
    stereo.codes = archive_builder::Bytes(400, 23);
    stereo.channels = 2;
    stereo.rate = 44100;
    archive_builder::ArchiveRecipe recipe;
    recipe.signature = "ZRV03";
    recipe.byte7 = 0x07;
    recipe.entries = {{"E0", {}},
                      {"\x89\xb9\x90\xba.PW", archive_builder::MakePwAudio(short16)},
                      {"VOICE2.PW", archive_builder::MakePwAudio(wide20)},
                      {"E1", {}},
                      {"E2", {}},
                      {"\x8a\x47.BMP", PackedPicture({7, 5, 8, 0, 16}, 'E')},
                      {"\x95\x5c.TXT", Text("table\r\n")},
                      {std::string("N\0after", 8), archive_builder::Bytes(33, 24)},
                      {"STEREO.PW", archive_builder::MakePwAudio(stereo)},
                      // Filler whose first bytes the picture plug-in takes
                      // for a packed picture's header, but cannot unpack.
                      {"LOOKALIKE", archive_builder::Bytes(1 + (13867u * 7919u) % 200, 13867)},
                      {"E3", {}}};
    recipe.tail = archive_builder::Bytes(9, 25);
    Bytes archive = archive_builder::BuildArchive(recipe);
    // Junk between the data and the directory.
    const uint32_t directory = archive_builder::DirectoryOffset(archive);
    const Bytes junk = archive_builder::Bytes(11, 26);
    archive.insert(archive.begin() + directory, junk.begin(), junk.end());
    archive_builder::SetHeader(archive, static_cast<uint16_t>(recipe.entries.size()),
                               directory + static_cast<uint32_t>(junk.size()));
    return archive;
}

// Sources for zorv pack and round trips: plain bitmap files of every depth
// zorv pack takes as they are, and the round-trip archive.
void RoundTripFixtures(const std::string& dir) {
    MakeFolder((dir + "/sources").c_str());
    const bitmap_builder::BitmapRecipe plain[] = {{13, 9, 1}, {13, 9, 4}, {13, -9, 8}, {13, 9, 24}, {13, 9, 32}};
    for (const auto& recipe : plain)
        Write(dir + "/sources/plain" + std::to_string(recipe.bitCount) + ".bmp",
              bitmap_builder::BuildBitmap(recipe).file);
    Write(dir + "/odd.dat", OddArchive());
}

void Fixtures(const std::string& dir) {
    MakeFolder((dir + "/expected").c_str());

    // Pictures: both signatures, bottom-up and top-down, a palette, and one
    // whose pixel data ends early.
    const bitmap_builder::BitmapRecipe cg24{13, 9, 24}, top24{6, -7, 24}, pal8{16, 4, 8, 0, 16};
    Write(dir + "/CG24.BMP", PackedPicture(cg24, 'B'));
    Write(dir + "/TOP24.BMP", PackedPicture(top24, 'E'));
    Write(dir + "/PAL8.BMP", PackedPicture(pal8));
    Write(dir + "/expected/CG24.bmp", bitmap_builder::BuildBitmap(cg24).file);
    Write(dir + "/expected/TOP24.bmp", bitmap_builder::BuildBitmap(top24).file);
    Bytes shortened = bitmap_builder::BuildBitmap({8, 8, 24}).file;
    shortened.resize(shortened.size() - 40);
    Write(dir + "/SHORT24.BMP", bitmap_builder::PackBitmap(shortened));
    Write(dir + "/notes.txt", Text("Not a picture, not an archive.\n"));

    // Every kind of entry, with plain names.
    archive_builder::ArchiveRecipe plain;
    Bytes fakeAudio = Audio(10, 9);
    fakeAudio.resize(40);  // the tags, but not the codes it announces
    plain.entries = {{"README.TXT", Text("Welcome to ZORVAN.\r\n")},
                     {"SE01.PW", Audio(1000, 1)},
                     {"CG01.BMP", PackedPicture(cg24)},
                     {"EMPTY.BIN", {}},
                     {"BGM02.PW", Audio(5000, 2, 2)},
                     {"DATA.BIN", archive_builder::Bytes(3000, 3)},
                     {"NOTE.PW", fakeAudio}};
    WriteArchive(dir, "plain", plain, {false, true, false, false, true, false, false});
    Write(dir + "/expected/plain/1.raw", plain.entries[1].data);

    // An entry that reaches past the end of the file, between good ones.
    archive_builder::ArchiveRecipe broken;
    Entry lost{"LOST.BIN", archive_builder::Bytes(100, 5)};
    lost.declaredSize = 1 << 20;
    broken.entries = {{"GOOD.TXT", Text("good\n")}, lost};
    WriteArchive(dir, "broken", broken, {false, false});

    // Sizes that wrap past 4 GiB: the third entry is listed at the first
    // one's position, where the plug-in finds the first.
    archive_builder::ArchiveRecipe wrapped;
    Entry huge{"HUGE.BIN", archive_builder::Bytes(30, 6)};
    huge.declaredSize = (int64_t{1} << 32) - 6;
    wrapped.entries = {{"FIRST.TXT", Text("first\n")}, huge, {"AGAIN.TXT", Text("again\n")}};
    WriteArchive(dir, "wrapped", wrapped, {false, false, false});

    // Names that try to leave the output folder, that a file system
    // refuses, that collide, or that do not decode.
    archive_builder::ArchiveRecipe hostile;
    const std::vector<std::string> names = {
        "..\\..\\EVIL1", "/etc/EVIL2",   "C:\\EVIL3.TXT", "\\\\srv\\EVIL4", "CON",          "nul.txt",
        "COM1.WAV",      "a<b>c:d|e?*",  "TRAIL. . .",    "",               "SAME.TXT",     "same.txt",
        "sub\\a.txt",    "SUB\\b.txt",   "sub",           ".",              "..",           "a/../../EVL",
        "\x95\x5C.TXT",  "\x80\xFF.BIN", "\x01\x1F.TXT",  "LINK.TXT",       "linkdir\\x.tx", "ABCDEFGHIJKL",
        "SE.PW",         "se.wav",       "\\",            "x:",             " LEAD ",       "c:..\\..\\Z"};
    std::vector<bool> audio;
    for (size_t i = 0; i < names.size(); ++i) {
        bool isAudio = names[i] == "SE.PW";
        hostile.entries.push_back({names[i], isAudio ? Audio(64, 11) : archive_builder::Bytes(20 + i, 100 + i)});
        audio.push_back(isAudio);
    }
    WriteArchive(dir, "hostile", hostile, audio);

    RoundTripFixtures(dir);
}

// N entries of `kib` KiB, and the same files as zorv delivers them.
void Large(const std::string& dir, int count, int kib) {
    archive_builder::ArchiveRecipe recipe;
    std::string files = dir + "/large-files";
    MakeFolder(files.c_str());
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "L%04d.BIN", i);
        recipe.entries.push_back({name, archive_builder::Bytes(size_t(kib) * 1024, 1000u + i)});
        Write(files + "/" + name, recipe.entries.back().data);
    }
    Write(dir + "/large.dat", archive_builder::BuildArchive(recipe));
}

void Tiny(const std::string& dir) {
    archive_builder::ArchiveRecipe recipe = archive_builder::SmallEntriesRecipe();
    std::string files = dir + "/tiny-files";
    MakeFolder(files.c_str());
    for (const Entry& entry : recipe.entries) {
        bool isAudio = entry.data.size() >= 46 && entry.data[0] == 'P' && entry.data[1] == 'W';
        std::string name = isAudio ? entry.name.substr(0, entry.name.rfind('.')) + ".wav" : entry.name;
        Write(files + "/" + name, isAudio ? archive_builder::ExpectedWave(entry.data) : entry.data);
    }
    Write(dir + "/tiny.dat", archive_builder::BuildArchive(recipe));
}

// A bottom-up bitmap file of top-row-first pixels (3 bytes B, G, R, or 1
// palette index each).
Bytes BitmapFile(uint32_t width, uint32_t height, uint16_t bitCount, const Bytes& pixels) {
    const uint32_t paletteSize = bitCount == 8 ? 1024 : 0;
    const uint32_t stride = (width * bitCount / 8 + 3) / 4 * 4;
    const uint32_t offBits = 54 + paletteSize;
    Bytes file(offBits + size_t(stride) * height, 0);
    auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, static_cast<uint32_t>(file.size()), 4);
    put(10, offBits, 4);
    put(14, 40, 4);
    put(18, width, 4);
    put(22, height, 4);
    put(26, 1, 2);
    put(28, bitCount, 2);
    put(34, stride * height, 4);
    for (uint32_t i = 0; i < paletteSize / 4; ++i) put(54 + 4 * i, (i * 0x00030507u) ^ 0x00A05010u, 4);
    const uint32_t rowBytes = width * bitCount / 8;
    for (uint32_t y = 0; y < height; ++y)
        std::copy(pixels.begin() + size_t(y) * rowBytes, pixels.begin() + size_t(y + 1) * rowBytes,
                  file.begin() + offBits + size_t(height - 1 - y) * stride);
    return file;
}

void Pictures(const std::string& dir) {
    using namespace test_images;
    Bytes truecolor = BitmapFile(kBenchWidth, kBenchHeight, 24, MakeTruecolorPicture(kBenchWidth, kBenchHeight));
    Bytes palette = BitmapFile(kBenchWidth, kBenchHeight, 8, MakePalettePicture(kBenchWidth, kBenchHeight));
    Write(dir + "/truecolor-plain.bmp", truecolor);
    Write(dir + "/TRUECOLOR.BMP", bitmap_builder::PackBitmap(truecolor));
    Write(dir + "/palette-plain.bmp", palette);
    Write(dir + "/PALETTE.BMP", bitmap_builder::PackBitmap(palette));
    // What no parse can shrink, for the packer's worst case.
    Write(dir + "/noise-plain.bmp",
          BitmapFile(kBenchWidth, kBenchHeight, 8, MakeNoise(size_t{kBenchWidth} * kBenchHeight, 0xC0FFEE)));
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 2 ? argv[1] : "";
    if (command == "fixtures") {
        Fixtures(argv[2]);
    } else if (command == "large" && argc == 5) {
        Large(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    } else if (command == "tiny") {
        Tiny(argv[2]);
    } else if (command == "pictures") {
        Pictures(argv[2]);
    } else {
        std::fprintf(stderr, "usage: %s fixtures|large|tiny|pictures DIR [COUNT KIB]\n", argv[0]);
        return 2;
    }
    return 0;
}
