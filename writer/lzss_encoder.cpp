#include "lzss_encoder.h"

#include <cstdint>
#include <stdexcept>

namespace writer {
namespace {

constexpr uint64_t kLiteralBits = 9;
constexpr uint64_t kMatchBits = 17;
// Holds the costs of the positions a token can reach from the current one.
constexpr size_t kCostRing = 32;
static_assert(kCostRing > kLzssMaxMatch, "a match must not reach its own ring slot");

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
// that far, at the fixed cost of each.
void LzssEncoder::ChooseOptimalTokens(size_t size) {
    uint64_t restBits[kCostRing];
    restBits[size % kCostRing] = 0;
    for (size_t i = size; i-- > 0;) {
        uint64_t best = restBits[(i + 1) % kCostRing] + kLiteralBits;
        uint8_t choice = 1;
        // On a tie the longer token wins: fewer tokens decode faster.
        const uint32_t longest = lengths_[i];
        for (uint32_t length = kLzssMinMatch; length <= longest; ++length) {
            const uint64_t bits = restBits[(i + length) % kCostRing] + kMatchBits;
            if (bits <= best) {
                best = bits;
                choice = static_cast<uint8_t>(length);
            }
        }
        restBits[i % kCostRing] = best;
        lengths_[i] = choice;
    }
}

std::vector<uint8_t> LzssEncoder::WriteTokens(const uint8_t* data, size_t size) const {
    // All literals is the largest stream: a flag byte per 8 bytes.
    std::vector<uint8_t> packed(size + (size + 7) / 8);
    TokenWriter writer(packed.data());
    size_t i = 0;
    while (i < size) {
        const uint32_t length = lengths_[i];
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
