#include "lzss_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tool_error.h"

namespace writer {
namespace {

constexpr uint64_t kLiteralBits = 9;
constexpr uint64_t kMatchBits = 17;
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
        throw files::ToolError("input too large for an LZSS stream");
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
    // The positions i + 3 .. i + 18 that a match from i can reach, with the
    // fewest bits for the input from each on, thinned to those that cost no
    // more than every nearer one; farthest first, from index `farthest` to
    // `nearest` (one past the last). The farthest is the cheapest end for
    // the longest match, the farthest within reach the cheapest for a
    // shorter one, so long matches, the common case in pictures, need no
    // scan of all their lengths.
    uint64_t endBits[kReachCapacity];
    size_t endPos[kReachCapacity];
    size_t farthest = 0, nearest = 0;

    // The fewest bits for the input from i + 1, i + 2 and i + 3 on.
    uint64_t rest1 = 0, rest2 = 0, rest3 = 0;
    size_t i = size;
    // No match fits in the last two bytes.
    for (; i > 0 && i + kLzssMinMatch > size + 1; --i) {
        rest3 = rest2;
        rest2 = rest1;
        rest1 += kLiteralBits;
        lengths[i - 1] = 1;
    }
    while (i-- > 0) {
        // i + 3 comes within reach.
        while (nearest != farthest && endBits[nearest - 1] > rest3) --nearest;
        if (nearest == kReachCapacity) {
            std::copy(endBits + farthest, endBits + nearest, endBits);
            std::copy(endPos + farthest, endPos + nearest, endPos);
            nearest -= farthest;
            farthest = 0;
        }
        endBits[nearest] = rest3;
        endPos[nearest] = i + kLzssMinMatch;
        ++nearest;
        if (endPos[farthest] > i + kLzssMaxMatch) ++farthest;

        const uint64_t literal = rest1 + kLiteralBits;
        const uint32_t longest = lengths[i];
        uint64_t best = literal;
        uint32_t choice = 1;
        if (longest >= kLzssMinMatch) {
            size_t k = farthest;
            while (endPos[k] > i + longest) ++k;
            if (endBits[k] + kMatchBits <= literal) {
                best = endBits[k] + kMatchBits;
                choice = static_cast<uint32_t>(endPos[k] - i);
            }
        }
        rest3 = rest2;
        rest2 = rest1;
        rest1 = best;
        lengths[i] = static_cast<uint8_t>(choice);
    }
}

std::vector<uint8_t> LzssEncoder::WriteTokens(const uint8_t* data, size_t size) {
    // All literals is the largest stream: a flag byte per 8 bytes. Written
    // into working memory and copied out, so the result holds no slack and
    // the worst-case buffer is not allocated and cleared on every call.
    packed_.resize(size + (size + 7) / 8);
    TokenWriter writer(packed_.data());
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
    return std::vector<uint8_t>(packed_.data(), writer.End());
}

}  // namespace writer
