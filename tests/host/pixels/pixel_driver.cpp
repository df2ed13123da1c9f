// The pixel test's two halves on our side:
//   pixel_driver fixtures DIR   writes every kind of picture as a plain bitmap
//                               file (DIR/plain) and as a packed one (DIR/packed)
//   pixel_driver convert IN OUT turns a picture into a PNG as a host does: a
//                               packed one through the picture plug-in's
//                               GetPicture; a plain one split the way GetPicture
//                               splits it; then RenderDib and EncodePng
// check_pixels.py compares the PNGs with an independent reader. `convert`
// answers like `zorv convert`: 0 done, 1 drawn with warnings or refused.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "bitmap_builder.h"
#include "dib_pixels.h"
#include "picture_exports.h"
#include "png_file.h"

namespace {

using bitmap_builder::BitmapRecipe;
using Bytes = std::vector<uint8_t>;

// An RLE stream, written escape by escape.
struct Rle {
    bool fourBit;
    Bytes bytes;

    Rle& Run(uint8_t count, uint8_t value) { return Put({count, value}); }
    Rle& EndOfLine() { return Put({0, 0}); }
    Rle& EndOfBitmap() { return Put({0, 1}); }
    Rle& Delta(uint8_t right, uint8_t up) { return Put({0, 2, right, up}); }
    Rle& Absolute(const Bytes& indices) {
        Put({0, static_cast<uint8_t>(indices.size())});
        size_t start = bytes.size();
        for (size_t i = 0; i < indices.size(); ++i) {
            if (!fourBit) bytes.push_back(indices[i]);
            else if (i % 2 == 0) bytes.push_back(static_cast<uint8_t>(indices[i] << 4));
            else bytes.back() |= indices[i];
        }
        if ((bytes.size() - start) % 2 != 0) bytes.push_back(0);
        return *this;
    }
    Rle& Put(const Bytes& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
};

// Entry 0 black: readers fill the pixels an RLE stream skips with entry 0,
// a viewer leaves them black.
std::vector<uint32_t> TableWithBlackFirst(uint32_t entries) {
    std::vector<uint32_t> table(entries);
    for (uint32_t i = 1; i < entries; ++i) table[i] = (i * 0x00091D2Bu) ^ 0x00C04020u;
    return table;
}

Bytes Rle8Stream() {
    Rle s{false, {}};
    s.Run(4, 5).Absolute({1, 2, 3}).Run(4, 9).EndOfLine();        // odd stretch, padded
    s.Absolute({7, 8, 9, 10}).Run(3, 200).EndOfLine();            // line ends early
    s.Delta(3, 0).Run(2, 17).Delta(2, 1).Run(4, 30).EndOfLine();  // jumps, also up a row
    s.Run(11, 250).EndOfLine();
    s.Absolute({40, 41, 42, 43, 44, 45}).EndOfBitmap();           // picture ends early
    s.Put(Bytes(8, 0));  // ignored after the end; some readers look ahead
    return s.bytes;
}

Bytes Rle4Stream() {
    Rle s{true, {}};
    s.Run(5, 0x12).Absolute({3, 4, 5}).Run(1, 0x70).EndOfLine();  // alternating nibbles
    s.Absolute({1, 2, 3, 4, 5}).Run(4, 0xAB).EndOfLine();          // odd count, padded
    s.Delta(4, 0).Absolute({6, 7, 8, 9, 10}).EndOfLine();
    s.Run(9, 0xFF).EndOfLine();
    s.Run(2, 0x34).Delta(1, 0).Run(3, 0x56).EndOfBitmap();
    s.Put(Bytes(8, 0));
    return s.bytes;
}

struct Fixture {
    std::string name;
    BitmapRecipe recipe;
    bitmap_builder::BitmapParts parts;
    size_t cut;  // bytes taken off the end of the file
};

Fixture Plain(std::string name, int32_t width, int32_t height, uint16_t bitCount, uint32_t compression = 0,
              uint32_t colorsUsed = 0, size_t cut = 0) {
    return {std::move(name), {width, height, bitCount, compression, colorsUsed, 0, 0}, {}, cut};
}

Fixture Masked(std::string name, int32_t width, int32_t height, uint16_t bitCount, std::vector<uint32_t> masks) {
    Fixture f = Plain(std::move(name), width, height, bitCount, 3);
    f.parts.masks = std::move(masks);
    return f;
}

Fixture Rle(std::string name, int32_t width, int32_t height, bool fourBit, Bytes stream) {
    Fixture f = Plain(std::move(name), width, height, fourBit ? 4 : 8, fourBit ? 2 : 1);
    f.parts.colours = TableWithBlackFirst(fourBit ? 16 : 256);
    f.parts.pixels = std::move(stream);
    return f;
}

std::vector<Fixture> Fixtures() {
    Fixture tooLarge = Plain("refused-too-large", 100000, 100000, 24);
    tooLarge.parts.pixels = Bytes(64, 0x5A);  // not the 30 GB it claims
    return {
        Plain("pal1-bottom-up", 13, 6, 1),
        Plain("pal1-top-down-1-colour", 13, -6, 1, 0, 1),
        Plain("pal4-bottom-up", 7, 5, 4),
        Plain("pal4-top-down-5-colours", 7, -5, 4, 0, 5),
        Plain("pal4-20-colours", 7, 5, 4, 0, 20),
        Plain("pal8-bottom-up", 61, 37, 8),
        Plain("pal8-top-down-100-colours", 9, -4, 8, 0, 100),
        Rle("rle8", 11, 6, false, Rle8Stream()),
        Rle("rle4", 9, 5, true, Rle4Stream()),
        Plain("rgb16-555", 5, 3, 16),
        Plain("rgb16-565-top-down", 5, -3, 16, 3),
        Masked("rgb16-masks-no-red", 6, 3, 16, {0, 0x07E0, 0xF800}),
        Plain("rgb24-bottom-up", 61, 37, 24),
        Plain("rgb24-top-down", 7, -5, 24),
        Plain("rgb32-plain", 6, 4, 32),
        Plain("rgb32-masks-top-down", 6, -4, 32, 3),
        Masked("rgb32-masks-reversed", 6, 4, 32, {0xFF, 0xFF00, 0xFF0000}),
        Masked("rgb32-masks-high", 5, 3, 32, {0xFF000000, 0xFF0000, 0xFF00}),
        Plain("truncated-rgb24", 7, 5, 24, 0, 0, 40),
        Plain("truncated-rgb16", 5, 3, 16, 0, 0, 5),
        Plain("truncated-pal1", 13, 6, 1, 0, 0, 9),
        Plain("truncated-pal4-top-down", 7, -5, 4, 0, 0, 7),
        Plain("truncated-pal8", 9, 4, 8, 0, 0, 13),
        Rle("refused-rle8-top-down", 11, -6, false, Rle8Stream()),
        Plain("refused-24-bit-rle", 7, 5, 24, 1),
        tooLarge,
    };
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

int WriteFixtures(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "plain");
    std::filesystem::create_directories(dir / "packed");
    for (Fixture& f : Fixtures()) {
        Bytes file = bitmap_builder::BuildBitmap(f.recipe, f.parts).file;
        file.resize(file.size() - f.cut);
        WriteFile(dir / "plain" / (f.name + ".bmp"), file);
        WriteFile(dir / "packed" / (f.name + ".bmp"), bitmap_builder::PackBitmap(file));
    }
    return 0;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How much of the file behind its 14-byte header GetPicture puts in the info
// handle: the header and the colour table of biClrUsed entries (0: all), or
// the three masks.
size_t InfoPartSize(const Bytes& file) {
    auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | file.at(14 + at + i);
        return v;
    };
    const uint32_t bitCount = le(14, 2), compression = le(16, 4), colorsUsed = le(32, 4);
    if (bitCount == 1 || bitCount == 4 || bitCount == 8)
        return 40 + 4 * size_t(colorsUsed ? colorsUsed : 1u << bitCount);
    if ((bitCount == 16 || bitCount == 32) && compression == 3) return 52;
    return 40;
}

host::Rendering RenderPlain(const Bytes& file) {
    const size_t infoSize = InfoPartSize(file);
    if (file.size() < 14 + infoSize) throw files::ToolError("the file ends inside its info part");
    const uint8_t* info = file.data() + 14;
    return host::RenderDib(info, infoSize, info + infoSize, file.size() - 14 - infoSize);
}

// The two handles GetPicture hands over, freed however the drawing ends.
struct Delivered {
    HGLOBAL info = nullptr, bits = nullptr;
    ~Delivered() {
        if (info) GlobalFree(info);
        if (bits) GlobalFree(bits);
    }
};

host::Rendering RenderPacked(const std::string& path) {
    Delivered d;
    const int32_t result = GetPicture(path.c_str(), 0, 0, &d.info, &d.bits, nullptr, 0);
    if (result != 0) throw std::runtime_error("GetPicture answered " + std::to_string(result));
    const auto* info = static_cast<const uint8_t*>(GlobalLock(d.info));
    const auto* bits = static_cast<const uint8_t*>(GlobalLock(d.bits));
    host::Rendering r = host::RenderDib(info, GlobalSize(d.info), bits, GlobalSize(d.bits));
    GlobalUnlock(d.info);
    GlobalUnlock(d.bits);
    return r;
}

int Convert(const std::string& in, const std::string& out) {
    try {
        const Bytes file = ReadFile(in);
        const bool plain = file.size() >= 2 && file[0] == 'B' && file[1] == 'M';
        const host::Rendering r = plain ? RenderPlain(file) : RenderPacked(in);
        WriteFile(out, host::EncodePng(r.pixels));
        for (const std::string& w : r.warnings) std::cerr << in << ": warning: " << w << "\n";
        return r.complete ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << in << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "fixtures" && argc == 3) return WriteFixtures(argv[2]);
    if (command == "convert" && argc == 4) return Convert(argv[2], argv[3]);
    std::cerr << "usage: pixel_driver fixtures DIR | pixel_driver convert IN.bmp OUT.png\n";
    return 3;
}
