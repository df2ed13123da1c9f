#include "lzss_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace writer {
namespace {

constexpr uint64_t kLiteralBits = 9;
constexpr uint64_t kMatchBits = 17;
// Holds the costs of the positions a token can reach from the current one.
constexpr size_t kCostRing = 32;
static_assert(kCostRing > kLzssMaxMatch, "a match must not reach its own ring slot");
// Room for the match ends of several positions before the window of them
// is moved back to the start.
constexpr size_t kReachCapacity = 256;

// Flag bytes and tokens, written into a buffer sized for the worst case.
class TokenWriter {
public:
    explicit TokenWriter(uint8_t* out) : out_(out), flags_(out) {}

    void Literal(uint8_t byte) {
        StartToken(true);
        *out_++ = byte;
    }
    void Match(uint32_t windowPos, uint32_t length) {
        StartToken(false);
        *out_++ = static_cast<uint8_t>(windowPos & 0xFF);
        *out_++ = static_cast<uint8_t>(((windowPos >> 4) & 0xF0) | (length - kLzssMinMatch));
    }
    // Eight literals from `bytes` as one group; only between groups.
    bool AtGroupStart() const { return bit_ == 0; }
    void LiteralGroup(const uint8_t* bytes) {
        *out_++ = 0xFF;
        std::memcpy(out_, bytes, 8);
        out_ += 8;
    }
    uint8_t* End() const { return out_; }

private:
    void StartToken(bool literal) {
        if (bit_ == 0) {
            flags_ = out_++;
            *flags_ = 0;
        }
        if (literal) *flags_ |= static_cast<uint8_t>(1u << bit_);
        bit_ = (bit_ + 1) % 8;
    }

    uint8_t* out_;
    uint8_t* flags_;
    unsigned bit_ = 0;
};

// Whether the tokens at eight positions are all literals (lengths below 3),
// as they are in data that does not pack.
bool EightLiterals(const uint8_t* lengths) {
    uint64_t v;
    std::memcpy(&v, lengths, sizeof v);
    // Lengths are at most 18, so adding 125 sets a byte's top bit exactly
    // when it is 3 or more, and never carries into the next byte.
    return ((v + 0x7D7D7D7D7D7D7D7Dull) & 0x8080808080808080ull) == 0;
}

}  // namespace

LzssEncoder::LzssEncoder(LzssParse parse) : parse_(parse) {}
LzssEncoder::~LzssEncoder() = default;

std::vector<uint8_t> LzssEncoder::Encode(const uint8_t* data, size_t size) {
    // The worst-case output, 9 bytes per 8, must fit in a size_t too.
    if (static_cast<uint64_t>(size) > kLzssMaxInput || size > (SIZE_MAX - 16) / 9 * 8) {
        throw std::length_error("input too large for an LZSS stream");
    }
    lengths_.resize(size);
    distances_.resize(size);
    finder_.FindAll(data, size, lengths_.data(), distances_.data());
    // The greedy parse takes the longest match wherever it is: the lengths
    // as found.
    if (parse_ == LzssParse::Optimal) ChooseOptimalTokens(size);
    return WriteTokens(data, size);
}

// The shortest path from each position to the end, backwards: a literal
// goes one position on, a match of any length from 3 to the longest goes
// that far, at the fixed cost of each. On a tie the longer token wins:
// fewer tokens decode faster.
void LzssEncoder::ChooseOptimalTokens(size_t size) {
    uint8_t* const lengths = lengths_.data();
    // The fewest bits for the input from position j on, at j % kCostRing.
    uint64_t rest[kCostRing];
    // The positions i + 3 .. i + 18 that a match from i can reach, thinned
    // to those that cost no more than every nearer one; farthest first,
    // from reach[farthest] to reach[nearest]. The farthest is the cheapest
    // end for the longest match and the farthest within reach the cheapest
    // for a shorter one, so long matches, the common case in pictures, need
    // no scan of all their lengths.
    struct End {
        uint64_t bits;
        size_t pos;
    };
    End reach[kReachCapacity];
    size_t farthest = 0, nearest = 0;  // nearest is one past the last

    size_t i = size;
    rest[i % kCostRing] = 0;
    // No match fits in the last two bytes.
    for (; i > 0 && i + kLzssMinMatch > size + 1; --i) {
        rest[(i - 1) % kCostRing] = rest[i % kCostRing] + kLiteralBits;
        lengths[i - 1] = 1;
    }
    // rest[i + 1], kept out of memory for the next step's literal.
    uint64_t restNext = rest[i % kCostRing];
    while (i-- > 0) {
        const End entering{rest[(i + kLzssMinMatch) % kCostRing], i + kLzssMinMatch};
        while (nearest != farthest && reach[nearest - 1].bits > entering.bits) --nearest;
        if (nearest == kReachCapacity) {
            std::copy(reach + farthest, reach + nearest, reach);
            nearest -= farthest;
            farthest = 0;
        }
        reach[nearest++] = entering;
        if (reach[farthest].pos > i + kLzssMaxMatch) ++farthest;

        const uint64_t literal = restNext + kLiteralBits;
        const uint32_t longest = lengths[i];
        uint64_t best = literal;
        uint32_t choice = 1;
        if (longest >= kLzssMinMatch) {
            size_t k = farthest;
            while (reach[k].pos > i + longest) ++k;
            if (reach[k].bits + kMatchBits <= literal) {
                best = reach[k].bits + kMatchBits;
                choice = static_cast<uint32_t>(reach[k].pos - i);
            }
        }
        rest[i % kCostRing] = best;
        restNext = best;
        lengths[i] = static_cast<uint8_t>(choice);
    }
}

std::vector<uint8_t> LzssEncoder::WriteTokens(const uint8_t* data, size_t size) const {
    // All literals is the largest stream: a flag byte per 8 bytes.
    std::vector<uint8_t> packed(size + (size + 7) / 8);
    TokenWriter writer(packed.data());
    const uint8_t* const lengths = lengths_.data();
    size_t i = 0;
    while (i < size) {
        if (writer.AtGroupStart() && size - i >= 8 && EightLiterals(lengths + i)) {
            writer.LiteralGroup(data + i);
            i += 8;
            continue;
        }
        const uint32_t length = lengths[i];
        if (length < kLzssMinMatch) {
            writer.Literal(data[i]);
            ++i;
            continue;
        }
        // The decoder's write position for output byte i, and the window
        // position `distance` bytes behind it.
        const uint32_t writePos = static_cast<uint32_t>((kLzssFirstWritePos + i) % kLzssWindowSize);
        const uint32_t windowPos = (writePos + kLzssWindowSize - distances_[i]) % kLzssWindowSize;
        writer.Match(windowPos, length);
        i += length;
    }
    packed.resize(static_cast<size_t>(writer.End() - packed.data()));
    return packed;
}

}  // namespace writer
