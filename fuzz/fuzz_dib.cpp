// RenderDib and EncodePng on parts cut from the input: its first two bytes
// (little-endian) give the info part's size, the info part follows, the
// bits are the rest. Either the picture is refused or it comes out the size
// it states, within the pixel bound, and encodes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dib_pixels.h"
#include "png_file.h"

namespace {

// Far smaller than the real bound (32x32 pixels), so each run stays quick:
// the checks that enforce a bound are the same at any size, every depth and
// compression still fits, and a megapixel bound spent most of each run
// filling large pictures under the sanitizers (over ten times fewer runs a
// second). Every picture within it is also encoded.
constexpr uint64_t kBound = uint64_t(1) << 10;

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t infoSize = std::min<size_t>(data[0] | data[1] << 8, size - 2);
    // Exactly sized copies: a read past either part is caught.
    const std::vector<uint8_t> info(data + 2, data + 2 + infoSize);
    const std::vector<uint8_t> bits(data + 2 + infoSize, data + size);
    host::Rendering r;
    try {
        r = host::RenderDib(info.data(), info.size(), bits.data(), bits.size(), kBound);
    } catch (const files::ToolError&) {
        return 0;
    }
    const host::Pixels& p = r.pixels;
    const uint64_t pixels = uint64_t(p.width) * p.height;
    Require(pixels > 0 && pixels <= kBound);
    Require(p.rows.size() == pixels * (p.indexed ? 1 : 3));
    Require(r.complete == r.warnings.empty());
    if (p.indexed) {
        Require(!p.palette.empty() && p.palette.size() <= (1u << p.bitDepth));
        Require(*std::max_element(p.rows.begin(), p.rows.end()) < p.palette.size());
    }
    Require(!host::EncodePng(p).empty());
    return 0;
}
