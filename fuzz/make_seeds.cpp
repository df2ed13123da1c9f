// Writes the seed corpora of the fuzz targets from the test fixture
// builders: valid inputs of every kind, so fuzzing starts from real files.
// Usage: make_fuzz_seeds <folder>; writes <folder>/<target>/<name>.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "archive_builder.h"
#include "bitmap_builder.h"
#include "lzss_test_codec.h"
#include "test_images.h"
#include "wave_builder.h"

namespace {

std::string root;

void Write(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string folder = root + "/" + target;
    mkdir(root.c_str(), 0755);
    mkdir(folder.c_str(), 0755);
    std::string path = folder + "/" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// The LZSS target takes two bytes of output size, then the stream.
void LzssSeeds() {
    std::vector<std::vector<uint8_t>> samples = {
        test_images::MakeNoise(300, 1),
        test_images::MakePalettePicture(64, 40),
        test_images::MakeTruecolorPicture(48, 32),
        std::vector<uint8_t>(5000, 0),
    };
    int n = 0;
    for (const auto& sample : samples) {
        std::vector<uint8_t> packed = lzss_test::LzssEncode(sample.data(), sample.size());
        std::vector<uint8_t> seed = {static_cast<uint8_t>(sample.size()), static_cast<uint8_t>(sample.size() >> 8)};
        seed.insert(seed.end(), packed.begin(), packed.end());
        Write("fuzz_lzss", "stream" + std::to_string(n++), seed);
    }
}

// Plain bytes for the writer's encoder: picture-like, zero runs from the
// start, and a repeat exactly one window back.
void LzssEncoderSeeds() {
    std::vector<uint8_t> windowRepeat = test_images::MakeNoise(4096, 3);
    windowRepeat.insert(windowRepeat.end(), windowRepeat.begin(), windowRepeat.begin() + 300);
    const std::vector<std::vector<uint8_t>> samples = {
        test_images::MakePalettePicture(24, 16),
        test_images::MakeTruecolorPicture(12, 10),
        std::vector<uint8_t>(300, 0),
        windowRepeat,
    };
    int n = 0;
    for (const auto& sample : samples) Write("fuzz_lzss_encoder", "input" + std::to_string(n++), sample);
}

// Packed pictures of every depth class, bottom-up and top-down.
void PictureSeeds() {
    using bitmap_builder::BitmapRecipe;
    std::vector<BitmapRecipe> recipes;
    for (uint16_t bits : {1, 4, 8}) {
        recipes.push_back({7, 5, bits, 0, 0, 0, 0});
        recipes.push_back({7, -5, bits, 0, 2, 0, 0});
    }
    for (uint16_t bits : {16, 32}) {
        recipes.push_back({6, 4, bits, 0, 0, 0, 0});
        recipes.push_back({6, 4, bits, 3, 0, 0, 0});
    }
    recipes.push_back({9, 3, 24, 0, 0, 0, 0});
    recipes.push_back({9, -3, 24, 0, 0, 4, 0});
    int n = 0;
    for (const BitmapRecipe& recipe : recipes) {
        auto bitmap = bitmap_builder::BuildBitmap(recipe);
        char letter = n % 2 ? 'B' : 'E';
        Write("fuzz_picture", "picture" + std::to_string(n++), bitmap_builder::PackBitmap(bitmap.file, letter));
    }
}

// The info part and bits of pictures of every kind, behind the info part's
// size in two bytes.
void DibSeeds() {
    using bitmap_builder::BitmapRecipe;
    std::vector<std::pair<BitmapRecipe, bitmap_builder::BitmapParts>> pictures;
    for (uint16_t bits : {1, 4, 8, 16, 24, 32}) {
        pictures.push_back({{7, 5, bits, 0, 0, 0, 0}, {}});
        pictures.push_back({{7, -5, bits, 0, bits <= 8 ? 3u : 0u, 0, 0}, {}});
    }
    pictures.push_back({{6, 4, 16, 3, 0, 0, 0}, {{0x7C00, 0x03E0, 0x001F}, {}, {}}});
    pictures.push_back({{6, 4, 32, 3, 0, 0, 0}, {{0x3FF00000, 0x000FFC00, 0x000003FF}, {}, {}}});
    pictures.push_back({{4, 3, 8, 1, 0, 0, 0}, {{}, {}, {3, 1, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 2, 0, 1}}});
    pictures.push_back({{5, 3, 4, 2, 0, 0, 0}, {{}, {}, {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 2, 2, 0, 1, 0x70, 0, 1}}});
    int n = 0;
    for (const auto& [recipe, parts] : pictures) {
        auto bitmap = bitmap_builder::BuildBitmap(recipe, parts);
        const size_t infoSize = bitmap.infoPart.size();
        std::vector<uint8_t> seed = {static_cast<uint8_t>(infoSize), static_cast<uint8_t>(infoSize >> 8)};
        seed.insert(seed.end(), bitmap.infoPart.begin(), bitmap.infoPart.end());
        seed.insert(seed.end(), bitmap.bits.begin(), bitmap.bits.end());
        Write("fuzz_dib", "picture" + std::to_string(n++), seed);
    }
}

// Archives of all three signatures with plain, empty and audio entries;
// the audio entries alone seed the conversion target.
void ArchiveSeeds() {
    using archive_builder::ArchiveRecipe;
    using archive_builder::Entry;
    using archive_builder::PwRecipe;
    auto mono = archive_builder::MakePwAudio(PwRecipe{1, 22050, archive_builder::Bytes(40, 1)});
    auto stereo = archive_builder::MakePwAudio(PwRecipe{2, 11025, archive_builder::Bytes(64, 2)});
    PwRecipe truncated{1, 8000, archive_builder::Bytes(10, 3)};
    truncated.codeCount = 30;
    auto cut = archive_builder::MakePwAudio(truncated);
    Write("fuzz_pwaudio", "mono", mono);
    Write("fuzz_pwaudio", "stereo", stereo);
    Write("fuzz_pwaudio", "truncated", cut);

    ArchiveRecipe empty;
    empty.signature = "ZRV00";
    Write("fuzz_archive", "empty", archive_builder::BuildArchive(empty));

    ArchiveRecipe mixed;
    mixed.entries = {Entry{"README.TXT", archive_builder::Bytes(60, 4)}, Entry{"EMPTY", {}},
                     Entry{"VOICE01.PW", mono}, Entry{"TWELVECHARSX", archive_builder::Bytes(7, 5)},
                     Entry{"STEREO.PW", stereo}, Entry{"readme.txt", archive_builder::Bytes(3, 6)},
                     Entry{"CUT.PW", cut}};
    Write("fuzz_archive", "mixed", archive_builder::BuildArchive(mixed));

    ArchiveRecipe three;
    three.signature = "ZRV03";
    three.entries = {Entry{"A", archive_builder::Bytes(100, 7)}, Entry{"B", archive_builder::Bytes(5, 8)}};
    three.directoryInFirstEntry = true;
    Write("fuzz_archive", "directory-first", archive_builder::BuildArchive(three));
}

// WAVE files of every accepted kind and layout, and the archive module's
// images with a format length that disagrees with their layout.
void WaveSeeds() {
    using wave_builder::Chunk;
    using wave_builder::FormatBody;
    const std::vector<uint8_t> bytes = archive_builder::Bytes(96, 9);
    Write("fuzz_wave", "pcm8-mono", wave_builder::MakeWave({{"fmt ", FormatBody(1, 1, 8000, 8)}, {"data", bytes}}));
    Write("fuzz_wave", "pcm16-stereo-odd-chunks",
          wave_builder::MakeWave({{"LIST", {1, 2, 3}}, {"fmt ", FormatBody(1, 2, 22050, 16, true)},
                                  {"data", bytes}, {"id3 ", {4}}}));
    Write("fuzz_wave", "pcm24-data-first",
          wave_builder::MakeWave({{"data", bytes}, {"fmt ", FormatBody(1, 2, 44100, 24)}}));
    Write("fuzz_wave", "pcm32-unpadded",
          wave_builder::MakeWave({{"fmt ", FormatBody(1, 1, 48000, 32)}, {"data", bytes, false}}));
    Write("fuzz_wave", "float-extensible",
          wave_builder::MakeWave({{"fmt ", wave_builder::ExtensibleBody(3, 2, 48000, 32)}, {"data", bytes}}));
    for (uint32_t formatLength : {16u, 20u}) {
        archive_builder::PwRecipe recipe{2, 11025, archive_builder::Bytes(40, formatLength)};
        recipe.formatLength = formatLength;
        Write("fuzz_wave", "module-image-format-length-" + std::to_string(formatLength),
              archive_builder::ExpectedWave(archive_builder::MakePwAudio(recipe)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    root = argv[1];
    LzssSeeds();
    LzssEncoderSeeds();
    PictureSeeds();
    DibSeeds();
    ArchiveSeeds();
    WaveSeeds();
    return 0;
}
