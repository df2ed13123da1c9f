#include "picture_depth.h"

#include <unordered_map>

#include "bitmap_file.h"
#include "tool_error.h"
#include "png_reading.h"

namespace writer {

namespace {

// A picture that is fine but does not fit the depth asked for.
[[noreturn]] void DoesNotFit(const std::string& why) { throw files::ToolError(why, files::ErrorKind::DoesNotFit); }

bool AllOpaque(const Picture& picture) {
    for (const Rgba& pixel : picture.pixels)
        if (pixel.a != 255) return false;
    return true;
}

// Direct colours into a palette of at most `limit` entries, in order of
// first appearance; a picture with more colours does not fit.
void MakeIndexed(Picture& picture, size_t limit, uint16_t depth) {
    std::unordered_map<uint32_t, uint8_t> seen;
    picture.indices.resize(picture.pixels.size());
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        const Rgba& pixel = picture.pixels[i];
        uint32_t key = uint32_t{pixel.r} | (uint32_t{pixel.g} << 8) | (uint32_t{pixel.b} << 16);
        auto found = seen.find(key);
        if (found == seen.end()) {
            if (seen.size() == limit)
                DoesNotFit("the picture has more than " + std::to_string(limit) + " colours, which a " +
                           std::to_string(depth) + "-bit picture cannot hold");
            found = seen.emplace(key, static_cast<uint8_t>(seen.size())).first;
            picture.palette.push_back(pixel);
        }
        picture.indices[i] = found->second;
    }
    picture.pixels.clear();
    picture.indexed = true;
}

// The PNG at exactly `depth`; a ToolError of kind DoesNotFit when it does not fit.
std::vector<uint8_t> BitmapAtDepth(const uint8_t* png, size_t size, const PngFacts& facts, uint16_t depth,
                                   std::vector<std::string>* notes) {
    const bool hasTrns = facts.hasTransparencyChunk;
    const bool indexedSource = facts.colour == PngColour::Palette || facts.colour == PngColour::Grey;
    const std::string droppedTransparency =
        "the PNG's transparency (tRNS) is dropped: only a 32-bit picture holds it";
    if (depth == 32) return DirectBitmap(DecodeDirect(png, size, true), 32);

    if (depth == 24) {
        Picture picture = DecodeDirect(png, size, false);
        if (!AllOpaque(picture))
            DoesNotFit("the picture has transparent pixels, which a 24-bit picture cannot hold");
        if (hasTrns) notes->push_back(droppedTransparency);
        return DirectBitmap(picture, 24);
    }

    const size_t limit = size_t{1} << depth;
    Picture picture;
    if (indexedSource) {
        picture = DecodeIndexed(png, size);
        for (uint8_t index : picture.indices)
            if (index >= limit)
                DoesNotFit("a pixel uses colour " + std::to_string(index) + ", which a " +
                           std::to_string(depth) + "-bit picture cannot hold");
        bool transparent = false;
        for (size_t i = 0; i < picture.palette.size() && i < limit; ++i) transparent |= picture.palette[i].a != 255;
        if (transparent || (hasTrns && facts.colour == PngColour::Grey))
            notes->push_back(droppedTransparency);
    } else {
        picture = DecodeDirect(png, size, false);
        if (!AllOpaque(picture))
            DoesNotFit("the picture has transparent pixels, which a " + std::to_string(depth) +
                       "-bit picture cannot hold");
        MakeIndexed(picture, limit, depth);
        if (hasTrns) notes->push_back(droppedTransparency);
    }
    return PaletteBitmap(picture, depth);
}

uint16_t NaturalDepth(const PngFacts& facts) {
    switch (facts.colour) {
    case PngColour::Rgb:
        return 24;
    case PngColour::RgbAlpha:
    case PngColour::GreyAlpha:
        return 32;
    default:  // palette, grey
        return 8;
    }
}

}  // namespace

bool ValidDepth(uint16_t depth) {
    return depth == 1 || depth == 4 || depth == 8 || depth == 24 || depth == 32;
}

std::vector<uint8_t> BitmapFromPng(const uint8_t* png, size_t size, uint16_t depth, uint16_t preferredDepth,
                                   uint16_t* bitCount, std::vector<std::string>* notes) {
    if (depth != 0 && !ValidDepth(depth))
        throw files::ToolError("a picture cannot be written at " + std::to_string(depth) +
                               " bits: choose 1, 4, 8, 24 or 32");
    const PngFacts facts = ReadPngFacts(png, size);
    std::vector<std::string> found;
    if (facts.bitDepth == 16) found.push_back("16-bit samples are rounded to 8 bits");

    uint16_t chosen = depth != 0 ? depth : NaturalDepth(facts);
    std::vector<uint8_t> bitmap;
    if (depth == 0 && preferredDepth != 0 && !ValidDepth(preferredDepth) && preferredDepth != chosen)
        found.push_back("written at " + std::to_string(chosen) + " bits, not " + std::to_string(preferredDepth) +
                        ": pictures are written at 1, 4, 8, 24 or 32 bits");
    if (depth == 0 && ValidDepth(preferredDepth) && preferredDepth != chosen) {
        try {
            std::vector<std::string> tried = found;
            bitmap = BitmapAtDepth(png, size, facts, preferredDepth, &tried);
            chosen = preferredDepth;
            found = tried;
        } catch (const files::ToolError& mismatch) {
            if (mismatch.Kind() != files::ErrorKind::DoesNotFit) throw;
            found.push_back(std::string("written at ") + std::to_string(chosen) + " bits, not " +
                            std::to_string(preferredDepth) + ": " + mismatch.what());
        }
    }
    if (bitmap.empty()) bitmap = BitmapAtDepth(png, size, facts, chosen, &found);
    *bitCount = chosen;
    notes->insert(notes->end(), found.begin(), found.end());
    return bitmap;
}

}  // namespace writer
