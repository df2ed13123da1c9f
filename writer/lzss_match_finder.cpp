#include "lzss_match_finder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

// Keys are compared a word at a time, and the first differing byte is found
// from the lowest set bit, which assumes the first byte is the least
// significant, as on every target we build.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "lzss_match_finder.cpp assumes a little-endian target"
#endif

namespace writer {
namespace {

// Node numbers are byte indices plus this, so that 0 can mean "none" and is
// always farther back than the window.
constexpr uint32_t kNodeBase = 2 * kLzssWindowSize;
// The window's nodes and the one being inserted fit in this ring.
constexpr uint32_t kRingSize = 2 * kLzssWindowSize;
constexpr uint32_t kNoNode = 0;
// A compare reads whole words up to 24 bytes past a key's first byte.
constexpr size_t kTailPadding = 32;
constexpr int kMaxHashBits = 16;
constexpr int kMinHashBits = 8;

uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

unsigned LowestSetBit(uint64_t v) {
#if defined(__GNUC__)
    return static_cast<unsigned>(__builtin_ctzll(v));
#else
    unsigned i = 0;
    while (!(v & 1)) v >>= 1, ++i;
    return i;
#endif
}

// Length of the common prefix of the keys at a and b, at most 18, given
// that their first `known` bytes are equal.
inline uint32_t CommonPrefix(const uint8_t* a, const uint8_t* b, uint32_t known) {
    for (uint32_t k = known; k < kLzssMaxMatch; k += 8) {
        const uint64_t diff = Load64(a + k) ^ Load64(b + k);
        if (diff != 0) return std::min(k + LowestSetBit(diff) / 8, kLzssMaxMatch);
    }
    return kLzssMaxMatch;
}

}  // namespace

void LzssMatchFinder::Reset(const uint8_t* data, size_t size) {
    static_assert(kLzssMaxInput + kNodeBase + kLzssMaxMatch < UINT32_MAX, "node numbers must fit");
    if (static_cast<uint64_t>(size) > kLzssMaxInput) {
        throw std::length_error("LZSS input too large");
    }
    bytes_.assign(kLzssMaxMatch, 0);
    bytes_.insert(bytes_.end(), data, data + size);
    bytes_.resize(bytes_.size() + kTailPadding, 0);

    // About one bucket per input byte, up to a table that stays in cache.
    int bits = kMinHashBits;
    while (bits < kMaxHashBits && (size_t{1} << bits) < size) ++bits;
    hashShift_ = static_cast<uint32_t>(32 - bits);
    roots_.assign(size_t{1} << bits, kNoNode);
    // Links are only followed from nodes of this call, which set theirs
    // when inserted, so stale ring entries are never read.
    children_.resize(2 * kRingSize);
}

LzssMatchFinder::Found LzssMatchFinder::Insert(uint32_t node) {
    const uint8_t* key = bytes_.data() + (node - kNodeBase);
    const uint32_t hash = ((Load32(key) & 0xFFFFFFu) * 2654435761u) >> hashShift_;
    uint32_t current = roots_[hash];
    roots_[hash] = node;

    uint32_t* const children = children_.data();
    auto smallerChild = [children](uint32_t n) { return &children[2 * (n % kRingSize)]; };
    auto largerChild = [children](uint32_t n) { return &children[2 * (n % kRingSize) + 1]; };
    // Where the next node found smaller (larger) than the key is attached,
    // and how many leading bytes all further nodes on that side share.
    uint32_t* smallerSlot = smallerChild(node);
    uint32_t* largerSlot = largerChild(node);
    uint32_t smallerCommon = 0;
    uint32_t largerCommon = 0;

    Found best{0, kNoNode};
    for (;;) {
        if (node - current > kLzssWindowSize) {
            // Out of the window, and so is everything below it.
            *smallerSlot = kNoNode;
            *largerSlot = kNoNode;
            break;
        }
        const uint8_t* candidate = bytes_.data() + (current - kNodeBase);
        const uint32_t common = CommonPrefix(candidate, key, std::min(smallerCommon, largerCommon));
        if (common > best.length) best = {common, current};
        if (common == kLzssMaxMatch) {
            // The new node takes the place of an equal, older key.
            *smallerSlot = *smallerChild(current);
            *largerSlot = *largerChild(current);
            break;
        }
        if (candidate[common] < key[common]) {
            *smallerSlot = current;
            smallerSlot = largerChild(current);
            smallerCommon = common;
            current = *smallerSlot;
        } else {
            *largerSlot = current;
            largerSlot = smallerChild(current);
            largerCommon = common;
            current = *largerSlot;
        }
    }
    return best;
}

void LzssMatchFinder::FindAll(const uint8_t* data, size_t size, uint8_t* lengths, uint16_t* distances) {
    Reset(data, size);
    // The zeros before the input, whose keys run into it.
    for (uint32_t i = 0; i < kLzssMaxMatch; ++i) Insert(kNodeBase + i);

    const uint32_t first = kNodeBase + kLzssMaxMatch;
    for (size_t i = 0; i < size; ++i) {
        const uint32_t node = first + static_cast<uint32_t>(i);
        const Found found = Insert(node);
        // Padding after the input may have matched too.
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(found.length, size - i));
        const bool usable = length >= kLzssMinMatch;
        lengths[i] = static_cast<uint8_t>(usable ? length : 0);
        distances[i] = static_cast<uint16_t>(usable ? node - found.node : 0);
    }
}

}  // namespace writer
