#include "png_file.h"

#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace host {
namespace {

using Context = std::unique_ptr<spng_ctx, void (*)(spng_ctx*)>;

static_assert(PngSettings{}.compressionStrategy == Z_FILTERED, "the header names zlib's value");

void Check(int error, const char* what) {
    if (error != 0) throw std::runtime_error(std::string("PNG encoding failed (") + what + "): " + spng_strerror(error));
}

// libspng hands the file over in pieces; they go straight into the vector.
int AppendToVector(spng_ctx*, void* user, void* data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    try {
        const auto* bytes = static_cast<const uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        return SPNG_IO_ERROR;
    }
    return 0;
}

void CheckShape(const Pixels& p) {
    const uint64_t perRow = p.indexed ? p.width : uint64_t(p.width) * 3;
    if (p.width == 0 || p.height == 0 || p.rows.size() != perRow * p.height)
        throw std::invalid_argument("pixel rows do not match the picture's size");
    if (!p.indexed) return;
    const uint8_t depth = p.bitDepth;
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8) || p.palette.empty() ||
        p.palette.size() > (1u << depth))
        throw std::invalid_argument("palette does not fit the bit depth");
}

// PNG rows of an indexed picture: indices packed at the bit depth, the
// leftmost pixel in the highest bits.
std::vector<uint8_t> PackIndices(const Pixels& p) {
    const unsigned depth = p.bitDepth, perByte = 8 / depth;
    const size_t rowBytes = (size_t(p.width) * depth + 7) / 8;
    std::vector<uint8_t> packed(rowBytes * p.height, 0);
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t* src = &p.rows[size_t(y) * p.width];
        uint8_t* dst = &packed[y * rowBytes];
        for (uint32_t x = 0; x < p.width; ++x) {
            const unsigned shift = 8 - depth * (x % perByte + 1);
            dst[x / perByte] |= static_cast<uint8_t>((src[x] & ((1u << depth) - 1)) << shift);
        }
    }
    return packed;
}

// How far a filtered byte is from zero, read as signed: the smaller of d
// and -d in eight bits, which vectorises sixteen bytes at a time.
inline uint8_t Magnitude(uint8_t d) {
    const auto negated = static_cast<uint8_t>(0u - d);
    return d < negated ? d : negated;
}

inline uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// The sums of magnitudes an RGB row would have under each filter (none,
// sub, up, average, Paeth), in one branch-free pass over bytes. `prev` is
// the row above (zeros for the first). Paeth needs wider arithmetic and
// costs as much as the other four together, so it is summed only when asked.
template <bool kWithPaeth>
void FilterSums(const uint8_t* row, const uint8_t* prev, size_t size, uint32_t sums[5]) {
    constexpr size_t kPixel = 3;
    for (size_t i = 0; i < size && i < kPixel; ++i) {
        const uint8_t x = row[i], b = prev[i];
        sums[0] += Magnitude(x);
        sums[1] += Magnitude(x);
        sums[2] += Magnitude(static_cast<uint8_t>(x - b));
        sums[3] += Magnitude(static_cast<uint8_t>(x - (b >> 1)));
        sums[4] += Magnitude(static_cast<uint8_t>(x - b));  // no left neighbour: Paeth predicts the byte above
    }
    uint32_t none = 0, sub = 0, up = 0, average = 0, paeth = 0;
    for (size_t i = kPixel; i < size; ++i) {
        const uint8_t x = row[i], a = row[i - kPixel], b = prev[i];
        const auto mean = static_cast<uint8_t>((a & b) + ((a ^ b) >> 1));  // (a + b) / 2 without a carry
        none += Magnitude(x);
        sub += Magnitude(static_cast<uint8_t>(x - a));
        up += Magnitude(static_cast<uint8_t>(x - b));
        average += Magnitude(static_cast<uint8_t>(x - mean));
        if (kWithPaeth) paeth += Magnitude(static_cast<uint8_t>(x - Paeth(a, b, prev[i - kPixel])));
    }
    sums[0] += none, sums[1] += sub, sums[2] += up, sums[3] += average, sums[4] += paeth;
}

// The filter among `choices` (SPNG_FILTER_CHOICE bits) that leaves the row
// with the smallest sum of magnitudes: libspng's own rule, first filter on a
// tie, at a fraction of its cost.
int PickFilter(const uint8_t* row, const uint8_t* prev, size_t size, int choices) {
    if ((choices & (choices - 1)) == 0) {  // one filter or none: nothing to weigh
        for (int f = 0; f < 5; ++f)
            if (choices == (SPNG_FILTER_CHOICE_NONE << f)) return f;
        return SPNG_FILTER_NONE;
    }
    uint32_t sums[5] = {0, 0, 0, 0, 0};
    if ((choices & SPNG_FILTER_CHOICE_PAETH) != 0) FilterSums<true>(row, prev, size, sums);
    else FilterSums<false>(row, prev, size, sums);
    int best = -1;
    for (int f = 0; f < 5; ++f)
        if ((choices & (SPNG_FILTER_CHOICE_NONE << f)) != 0 && (best < 0 || sums[f] < sums[best])) best = f;
    return best;
}

// Filters that suit this kind of picture best for their cost (measured with
// bench/png_bench on the benchmark pictures): the three cheap ones; Paeth
// gains little and costs the most.
constexpr int kDefaultFilters = SPNG_FILTER_CHOICE_SUB | SPNG_FILTER_CHOICE_UP | SPNG_FILTER_CHOICE_AVG;

// libspng filters each row by the choice in force when the row arrives, so
// naming the one filter picked here saves it from trying all of them again.
void EncodeRgbRows(spng_ctx* ctx, const Pixels& p, int choices) {
    const size_t rowBytes = size_t(p.width) * 3;
    const std::vector<uint8_t> zeros(rowBytes, 0);
    Check(spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE),
          "image");
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t* row = &p.rows[y * rowBytes];
        const uint8_t* above = y == 0 ? zeros.data() : row - rowBytes;
        const int filter = PickFilter(row, above, rowBytes, choices);
        Check(spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE << filter), "filter");
        const int result = spng_encode_row(ctx, row, rowBytes);
        if (result != 0 && !(result == SPNG_EOI && y + 1 == p.height)) Check(result, "row");
    }
}

void ApplyZlibSettings(spng_ctx* ctx, const PngSettings& s) {
    auto set = [&](spng_option option, int value) {
        if (value >= 0) Check(spng_set_option(ctx, option, value), "option");
    };
    set(SPNG_IMG_COMPRESSION_LEVEL, s.compressionLevel);
    set(SPNG_IMG_COMPRESSION_STRATEGY, s.compressionStrategy);
    set(SPNG_IMG_MEM_LEVEL, s.memLevel);
    set(SPNG_IMG_WINDOW_BITS, s.windowBits);
}

}  // namespace

std::vector<uint8_t> EncodePng(const Pixels& pixels, const PngSettings& settings) {
    CheckShape(pixels);
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    if (!ctx) throw std::bad_alloc();
    std::vector<uint8_t> png;
    png.reserve(pixels.rows.size() / 4 + 1024);
    Check(spng_set_png_stream(ctx.get(), AppendToVector, &png), "stream");
    ApplyZlibSettings(ctx.get(), settings);

    spng_ihdr ihdr = {};
    ihdr.width = pixels.width;
    ihdr.height = pixels.height;
    ihdr.bit_depth = pixels.indexed ? pixels.bitDepth : 8;
    ihdr.color_type = pixels.indexed ? SPNG_COLOR_TYPE_INDEXED : SPNG_COLOR_TYPE_TRUECOLOR;
    Check(spng_set_ihdr(ctx.get(), &ihdr), "header");

    if (!pixels.indexed) {
        const int choices = settings.filterChoice >= 0 ? settings.filterChoice : kDefaultFilters;
        // Any filter at all, so that libspng keeps the buffer it filters into.
        Check(spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_ALL), "filter");
        EncodeRgbRows(ctx.get(), pixels, choices);
        return png;
    }

    spng_plte plte = {};
    plte.n_entries = static_cast<uint32_t>(pixels.palette.size());
    for (size_t i = 0; i < pixels.palette.size(); ++i)
        plte.entries[i] = {pixels.palette[i].r, pixels.palette[i].g, pixels.palette[i].b, 0};
    Check(spng_set_plte(ctx.get(), &plte), "palette");
    // Filters only blur palette indices, which are not magnitudes.
    Check(spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE), "filter");
    std::vector<uint8_t> packed;  // 8-bit indices are PNG rows as they are
    if (pixels.bitDepth < 8) packed = PackIndices(pixels);
    const std::vector<uint8_t>& rows = packed.empty() ? pixels.rows : packed;
    Check(spng_encode_image(ctx.get(), rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), "image");
    return png;
}

}  // namespace host
