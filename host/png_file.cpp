#include "png_file.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "plugin_module.h"
#include "png_filters.h"

namespace host {
namespace {

using Bytes = std::vector<uint8_t>;

// PNG's numbers are big-endian.
void WriteBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void CheckShape(const Pixels& p) {
    const uint64_t perRow = p.indexed ? p.width : uint64_t(p.width) * 3;
    if (p.width == 0 || p.height == 0 || p.width > 0x7FFFFFFFu || p.height > 0x7FFFFFFFu ||
        p.rows.size() != perRow * p.height)
        throw files::ToolError("pixel rows do not match the picture's size");
    // PNG's rows (a filter byte each) in one buffer of this address space.
    if ((perRow + 1) * p.height > uint64_t(PTRDIFF_MAX)) throw files::ToolError("the picture is too large for one PNG");
    if (!p.indexed) return;
    const uint8_t depth = p.bitDepth;
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8) || p.palette.empty() ||
        p.palette.size() > (1u << depth))
        throw files::ToolError("palette does not fit the bit depth");
}

// Turns rows of `inBytes` into PNG's rows (a filter type byte, then
// `outBytes`) in the same buffer, through `makeRow(y, into)`, which reads
// row y as it was and, for a truecolour picture, the row above as it was.
// Longer rows are written from the bottom up, shorter ones from the top
// down, so that no row is overwritten before it is read.
template <typename MakeRow>
void RewriteRowsInPlace(Bytes& rows, uint32_t height, size_t inBytes, size_t outBytes, MakeRow makeRow) {
    const size_t stride = outBytes + 1;
    if (stride > inBytes) {
        rows.resize(stride * height);
        for (uint32_t y = height; y-- > 0;) makeRow(y, &rows[y * stride]);
    } else {
        for (uint32_t y = 0; y < height; ++y) makeRow(y, &rows[y * stride]);
        rows.resize(stride * height);
    }
}

// How a band of rows is filtered: each row by the allowed filter that
// leaves the smallest sum of magnitudes (the first on a tie), the rule that
// suits photographs and screen content alike; or every row unfiltered
// (text and line art, whose rows repeat as they are); or every row by Sub
// (smooth and dithered gradients, which Sub turns into runs that repeat).
enum class RowRule { kSmallestSum, kNone, kSub };

constexpr RowRule kRowRules[] = {RowRule::kSmallestSum, RowRule::kNone, RowRule::kSub};

// Bands of this many rows each take the rule whose filtered rows compress
// smallest in a trial of the band's first kTrialRows rows, by libdeflate's
// level 2 (or the picture's own when lower). The smallest sum alone loses to
// one of the other two by up to half on drawn pictures, and these figures
// find that at a cost of about a tenth of level 7's time (bench/png_bench).
constexpr uint32_t kBandRows = 64, kTrialRows = 8;
constexpr int kTrialLevel = 2;
// Fewer trial rows where rows are long, and no trial for rows longer than
// this: the three candidates' copies stay small.
constexpr size_t kMaxTrialBytes = size_t(1) << 18;
// The filter of one row under a rule, from the sums of all five.
int ChooseFilter(RowRule rule, const uint64_t sums[kPngFilterCount], int choices) {
    if (rule == RowRule::kNone) return 0;
    if (rule == RowRule::kSub) return 1;
    int best = -1;
    for (int f = 0; f < kPngFilterCount; ++f)
        if ((choices & (kPngFilterNone << f)) != 0 && (best < 0 || sums[f] < sums[best])) best = f;
    return best < 0 ? 0 : best;
}

// What the trials tell of the whole picture: its trial rows' sizes coded
// by libdeflate (under each band's rule) and as literals only (estimated
// from their byte counts, under the smallest-sum rule).
struct TrialSizes {
    double matches = 0, literals = 0;
};

// The bytes an order-0 Huffman code needs for `data`, near enough: each
// byte's information, but at least a bit, and a code table's worth.
double LiteralBytes(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint32_t counts[256] = {};
    for (size_t i = 0; i < size; ++i) ++counts[data[i]];
    double bits = 0;
    for (uint32_t c : counts)
        if (c != 0) bits += c * std::max(1.0, -std::log2(double(c) / double(size)));
    return bits / 8 + 64;
}

using Compressor = std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>;

Compressor MakeCompressor(int level) {
    Compressor compressor(libdeflate_alloc_compressor(level), libdeflate_free_compressor);
    if (!compressor) throw std::bad_alloc();
    return compressor;
}

// Filters PNG's rows of one picture in place (from the bottom up, so that
// each row above is still as it was), choosing each band's rule by trial
// when `trialLevel` is not 0.
class RgbRowFilter {
public:
    RgbRowFilter(Bytes& rows, uint32_t width, uint32_t height, int choices)
        : rows_(rows), height_(height), rowBytes_(size_t(width) * 3), choices_(choices) {
        // CheckShape has seen to it; said again so that a 32-bit compiler
        // sees every copy of a row bounded.
        if (rowBytes_ > size_t(PTRDIFF_MAX) - 1) throw files::ToolError("the picture is too large for one PNG");
        // Zeros above the first row, then the four filtered candidates.
        scratch_.assign(rowBytes_ * kPngFilterCount, 0);
        for (int f = 1; f < kPngFilterCount; ++f) out_[f] = &scratch_[f * rowBytes_];
    }

    TrialSizes FilterAll(int trialLevel) {
        const size_t stride = rowBytes_ + 1;
        Compressor trial(nullptr, libdeflate_free_compressor);
        // A rule only matters when its filters are allowed and there is
        // more than one to choose from.
        const bool tryRules = trialLevel > 0 && (choices_ & kPngFilterNone) != 0 && (choices_ & kPngFilterSub) != 0;
        if (tryRules) trial = MakeCompressor(trialLevel);
        TrialSizes sizes;
        rows_.resize(stride * height_);
        const uint32_t bands = (height_ - 1) / kBandRows + 1;
        const uint32_t trialRows = uint32_t(std::min<size_t>(kTrialRows, kMaxTrialBytes / stride));
        for (uint32_t band = bands; band-- > 0;) {
            const uint32_t first = band * kBandRows, end = std::min(height_, first + kBandRows);
            const RowRule rule = tryRules && trialRows > 0
                                     ? TrialRule(trial.get(), first, std::min(end, first + trialRows), sizes)
                                     : RowRule::kSmallestSum;
            for (uint32_t y = end; y-- > first;) FilterRow(y, rule, &rows_[y * stride]);
        }
        return sizes;
    }

private:
    const uint8_t* Row(uint32_t y) const { return &rows_[y * rowBytes_]; }
    const uint8_t* Above(uint32_t y) const { return y > 0 ? Row(y - 1) : scratch_.data(); }

    // Row y as it was, filtered under `rule` into PNG's row at `into`.
    void FilterRow(uint32_t y, RowRule rule, uint8_t* into) {
        uint64_t sums[kPngFilterCount];
        FilterRgbRow(Row(y), Above(y), rowBytes_, out_, sums);
        const int filter = ChooseFilter(rule, sums, choices_);
        std::memmove(into + 1, filter == 0 ? Row(y) : out_[filter], rowBytes_);
        into[0] = static_cast<uint8_t>(filter);
    }

    // Rows [first, end) filtered under every rule and compressed; the rule
    // of the smallest (the first on a tie).
    RowRule TrialRule(libdeflate_compressor* compressor, uint32_t first, uint32_t end, TrialSizes& sizes) {
        const size_t stride = rowBytes_ + 1, bytes = stride * (end - first);
        trialRows_.resize(bytes * std::size(kRowRules));
        for (uint32_t y = first; y < end; ++y) {
            uint64_t sums[kPngFilterCount];
            FilterRgbRow(Row(y), Above(y), rowBytes_, out_, sums);
            for (size_t r = 0; r < std::size(kRowRules); ++r) {
                uint8_t* into = &trialRows_[r * bytes + (y - first) * stride];
                const int filter = ChooseFilter(kRowRules[r], sums, choices_);
                std::memcpy(into + 1, filter == 0 ? Row(y) : out_[filter], rowBytes_);
                into[0] = static_cast<uint8_t>(filter);
            }
        }
        compressed_.resize(libdeflate_deflate_compress_bound(compressor, bytes));
        size_t best = 0, bestSize = SIZE_MAX;
        for (size_t r = 0; r < std::size(kRowRules); ++r) {
            size_t size = libdeflate_deflate_compress(compressor, &trialRows_[r * bytes], bytes, compressed_.data(),
                                                      compressed_.size());
            if (size == 0) size = bytes;  // cannot happen within the bound; stored at worst
            if (size < bestSize) best = r, bestSize = size;
        }
        sizes.matches += double(bestSize);
        sizes.literals += LiteralBytes(trialRows_.data(), bytes);
        return kRowRules[best];
    }

    Bytes& rows_;
    const uint32_t height_;
    const size_t rowBytes_;
    const int choices_;
    Bytes scratch_, trialRows_, compressed_;
    uint8_t* out_[kPngFilterCount] = {};
};

// Indices packed at the bit depth, the leftmost pixel in the highest bits,
// never filtered: filters only blur palette indices, which are not
// magnitudes.
void PackIndexRows(Bytes& rows, uint32_t width, uint32_t height, unsigned depth) {
    const unsigned perByte = 8 / depth;
    const size_t rowBytes = (size_t(width) * depth + 7) / 8;
    Bytes packed(rowBytes);
    RewriteRowsInPlace(rows, height, width, rowBytes, [&](uint32_t y, uint8_t* into) {
        const uint8_t* src = &rows[size_t(y) * width];
        if (depth == 8) {
            std::memmove(into + 1, src, width);
        } else {
            std::fill(packed.begin(), packed.end(), 0);
            for (uint32_t x = 0; x < width; ++x) {
                const unsigned shift = 8 - depth * (x % perByte + 1);
                packed[x / perByte] |= static_cast<uint8_t>((src[x] & ((1u << depth) - 1)) << shift);
            }
            std::memcpy(into + 1, packed.data(), rowBytes);
        }
        into[0] = 0;
    });
}

// A chunk's length and CRC are filled in by EndChunk once its data is there.
size_t BeginChunk(Bytes& png, const char type[4]) {
    const size_t start = png.size();
    png.resize(start + 8);
    std::memcpy(&png[start + 4], type, 4);
    return start;
}

void EndChunk(Bytes& png, size_t start) {
    const size_t length = png.size() - start - 8;
    WriteBe32(&png[start], static_cast<uint32_t>(length));
    const uint32_t crc = libdeflate_crc32(0, &png[start + 4], length + 4);
    png.resize(png.size() + 4);
    WriteBe32(&png[png.size() - 4], crc);
}

void AppendHeader(Bytes& png, const Pixels& p) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.insert(png.end(), kSignature, kSignature + 8);
    const size_t ihdr = BeginChunk(png, "IHDR");
    png.resize(png.size() + 13, 0);  // compression, filter method and interlacing: 0
    uint8_t* fields = &png[ihdr + 8];
    WriteBe32(fields, p.width);
    WriteBe32(fields + 4, p.height);
    fields[8] = p.indexed ? p.bitDepth : 8;
    fields[9] = p.indexed ? 3 : 2;  // palette or RGB
    EndChunk(png, ihdr);
    if (!p.indexed) return;
    const size_t plte = BeginChunk(png, "PLTE");
    for (const Rgb& c : p.palette) png.insert(png.end(), {c.r, c.g, c.b});
    EndChunk(png, plte);
}

// The filtered rows as a zlib stream of literals only (zlib's Huffman-only
// strategy) into `out`. Returns its size, or 0 as soon as it is past
// `capacity` bytes.
size_t DeflateLiteralsOnly(const Bytes& filtered, uint8_t* out, size_t capacity) {
    z_stream stream = {};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15, 9, Z_HUFFMAN_ONLY) != Z_OK) throw std::bad_alloc();
    std::unique_ptr<z_stream, int (*)(z_stream*)> end(&stream, deflateEnd);
    size_t total = 0;
    const uint8_t* in = filtered.data();
    size_t left = filtered.size();
    for (;;) {
        // zlib counts in 32 bits: the input goes in by pieces.
        if (stream.avail_in == 0 && left > 0) {
            const size_t piece = std::min<size_t>(left, 1u << 30);
            stream.next_in = const_cast<uint8_t*>(in);
            stream.avail_in = static_cast<uInt>(piece);
            in += piece;
            left -= piece;
        }
        // And the output by pieces too.
        const size_t room = std::min<size_t>(capacity - total, 1u << 30);
        if (room == 0) return 0;
        stream.next_out = out + total;
        stream.avail_out = static_cast<uInt>(room);
        const int result = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (result == Z_STREAM_ERROR) throw files::ToolError("PNG compression failed");
        total += room - stream.avail_out;
        if (total > capacity) return 0;
        if (result == Z_STREAM_END) return total;
    }
}

// How the filtered rows are coded. libdeflate's matches win on screen
// content and drawn pictures; a photograph's filtered rows may repeat too
// little for matches to pay, and there coding every byte as a literal
// (zlib's Huffman-only strategy) is smaller than any of libdeflate's levels
// up to 9 (bench/png_bench). Where the trials cannot tell, both are made
// and the smaller kept.
enum class Coding { kMatches, kLiterals, kSmaller };

// The trials' estimate of literals against what libdeflate's trial level
// made of the same rows, which the full level betters by 2% (photographs)
// to 50% (drawn pictures): below kLiteralsWin, literals only; above
// kMatchesWin, matches only. Photographs measured 0.91 (literals 7% smaller
// in the end) and 1.07 (matches 10% smaller), drawn pictures 2 and more.
constexpr double kLiteralsWin = 0.95, kMatchesWin = 1.0;
// Below this, a picture is photographic: libdeflate's level 8 takes two to
// three times level 7's time on it for under 2% (bench/png_bench).
constexpr double kPhotographic = 1.3;

double LiteralsToMatches(const TrialSizes& trials) {
    return trials.matches > 0 ? trials.literals / trials.matches : 1.0;
}

Coding ChooseCoding(const TrialSizes& trials, int level) {
    if (level == 0) return Coding::kMatches;  // stored, as asked
    if (trials.matches == 0) return Coding::kSmaller;
    const double ratio = LiteralsToMatches(trials);
    if (ratio > kMatchesWin) return Coding::kMatches;
    // Past level 9 (near-optimal parsing), matches may yet win.
    if (ratio < kLiteralsWin && level <= 9) return Coding::kLiterals;
    return Coding::kSmaller;
}

// The filtered rows go straight into one IDAT chunk, its size checked
// against the compressed bound before anything is allocated.
void AppendImageData(Bytes& png, const Bytes& filtered, int level, Coding coding) {
    const Compressor compressor = MakeCompressor(level);
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filtered.size());
    // A chunk holds at most 2^31 - 1 bytes.
    constexpr uint64_t kMaxChunk = 0x7FFFFFFF;
    if (bound < filtered.size() || bound > kMaxChunk || bound > png.max_size() - png.size() - 64)
        throw files::ToolError("the picture is too large for one PNG");
    png.reserve(png.size() + 8 + bound + 4 + 12);  // with the CRC and the end chunk
    const size_t idat = BeginChunk(png, "IDAT");
    png.resize(idat + 8 + bound);
    uint8_t* const data = &png[idat + 8];
    // Literals only: straight into the chunk, unless (never seen) they
    // would not fit libdeflate's bound.
    size_t written = coding == Coding::kLiterals ? DeflateLiteralsOnly(filtered, data, bound) : 0;
    if (written == 0) {
        written = libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(), data, bound);
        if (written == 0) throw files::ToolError("PNG compression failed");
        if (coding == Coding::kSmaller) {
            Bytes literals(written - 1);
            const size_t size = DeflateLiteralsOnly(filtered, literals.data(), literals.size());
            if (size > 0) std::memcpy(data, literals.data(), written = size);
        }
    }
    png.resize(idat + 8 + written);
    EndChunk(png, idat);
}

}  // namespace

std::vector<uint8_t> EncodePng(Pixels pixels, const PngSettings& settings) {
    int level = settings.level != kPngLevelByKind ? settings.level
                : pixels.indexed                  ? kDefaultPalettePngLevel
                                                  : kDefaultPngLevel;
    if (level < kMinPngLevel || level > kMaxPngLevel)
        throw files::ToolError("PNG level " + std::to_string(level) + " is not in " + std::to_string(kMinPngLevel) +
                               ".." + std::to_string(kMaxPngLevel));
    CheckShape(pixels);
    Bytes png;
    AppendHeader(png, pixels);
    // Palette pictures win with matches alone.
    Coding coding = Coding::kMatches;
    if (pixels.indexed) {
        PackIndexRows(pixels.rows, pixels.width, pixels.height, pixels.bitDepth);
    } else {
        RgbRowFilter filter(pixels.rows, pixels.width, pixels.height, settings.filterChoice);
        const TrialSizes trials = filter.FilterAll(settings.trialBands ? std::min(level, kTrialLevel) : 0);
        if (settings.level == kPngLevelByKind && trials.matches > 0 && LiteralsToMatches(trials) < kPhotographic)
            level = kDefaultPhotoPngLevel;
        coding = ChooseCoding(trials, level);
    }
    AppendImageData(png, pixels.rows, level, coding);
    pixels.rows = Bytes();
    const size_t iend = BeginChunk(png, "IEND");
    EndChunk(png, iend);
    // The output was sized by the compressed bound; give back what is left over when that is much.
    if (png.capacity() / 2 > png.size()) png.shrink_to_fit();
    return png;
}

}  // namespace host
