#include "lzss_match_finder.h"

#include <algorithm>
#include <cstring>

#include "tool_error.h"

// Keys are compared a word at a time, and the first differing byte is found
// from the lowest set bit, which assumes the first byte is the least
// significant, as on every target we build.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "lzss_match_finder.cpp assumes a little-endian target"
#endif

#if defined(__GNUC__)
#define ZORV_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ZORV_ALWAYS_INLINE inline
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

// The working state of one FindAll call, as plain pointers that stay in
// registers through the loop.
struct Trees {
    const uint8_t* bytes;  // node n's key starts at bytes + n - kNodeBase
    uint32_t* roots;
    uint32_t* children;
    uint32_t hashShift;

    const uint8_t* Key(uint32_t node) const { return bytes + (node - kNodeBase); }
    uint32_t* Root(uint32_t node) const {
        return &roots[((Load32(Key(node)) & 0xFFFFFFu) * 2654435761u) >> hashShift];
    }
    uint32_t* SmallerChild(uint32_t node) const { return &children[2 * (node % kRingSize)]; }
    uint32_t* LargerChild(uint32_t node) const { return &children[2 * (node % kRingSize) + 1]; }
};

struct Found {
    uint32_t length;
    uint32_t node;
};

// Makes `node` the root of its bucket's tree and returns the longest common
// prefix (up to 18) of its key with any key in the window, and that key's
// node.
ZORV_ALWAYS_INLINE Found Insert(const Trees& trees, uint32_t node, uint32_t* root) {
    const uint8_t* key = trees.Key(node);
    uint32_t current = *root;
    *root = node;

    // Where the next node found smaller (larger) than the key is attached,
    // and how many leading bytes all further nodes on that side share.
    uint32_t* smallerSlot = trees.SmallerChild(node);
    uint32_t* largerSlot = trees.LargerChild(node);
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
        const uint8_t* candidate = trees.Key(current);
        const uint32_t common = CommonPrefix(candidate, key, std::min(smallerCommon, largerCommon));
        if (common > best.length) best = {common, current};
        if (common == kLzssMaxMatch) {
            // The new node takes the place of an equal, older key.
            *smallerSlot = *trees.SmallerChild(current);
            *largerSlot = *trees.LargerChild(current);
            break;
        }
        if (candidate[common] < key[common]) {
            *smallerSlot = current;
            smallerSlot = trees.LargerChild(current);
            smallerCommon = common;
            current = *smallerSlot;
        } else {
            *largerSlot = current;
            largerSlot = trees.SmallerChild(current);
            largerCommon = common;
            current = *largerSlot;
        }
    }
    return best;
}

// Where a run of equal keys that includes position i (whose key is `key`
// and equals the one before) ends: the first position from i + 1 on whose
// key has a new last byte, at most `limit`.
size_t RunEnd(const uint8_t* key, size_t i, size_t limit) {
    const uint8_t value = key[kLzssMaxMatch - 1];
    const uint64_t repeated = value * 0x0101010101010101ull;
    // Position p's last key byte is at key + (p - i) + 17.
    const uint8_t* const last = key + kLzssMaxMatch - 1;
    size_t p = i + 1;
    while (p + 8 <= limit) {
        const uint64_t diff = Load64(last + (p - i)) ^ repeated;
        if (diff != 0) return p + LowestSetBit(diff) / 8;
        p += 8;
    }
    while (p < limit && last[p - i] == value) ++p;
    return p;
}

}  // namespace

void LzssMatchFinder::Reset(const uint8_t* data, size_t size) {
    static_assert(kLzssMaxInput + kNodeBase + kLzssMaxMatch < UINT32_MAX, "node numbers must fit");
    if (static_cast<uint64_t>(size) > kLzssMaxInput) {
        throw files::ToolError("LZSS input too large");
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

void LzssMatchFinder::FindAll(const uint8_t* data, size_t size, uint8_t* lengths, uint16_t* distances) {
    Reset(data, size);
    const Trees trees{bytes_.data(), roots_.data(), children_.data(), hashShift_};
    // The zeros before the input, whose keys run into it.
    for (uint32_t node = kNodeBase; node < kNodeBase + kLzssMaxMatch; ++node) Insert(trees, node, trees.Root(node));

    const uint32_t first = kNodeBase + kLzssMaxMatch;
    // Positions whose whole key lies in the input.
    const size_t fullKeys = size >= kLzssMaxMatch ? size - kLzssMaxMatch + 1 : 0;
    uint32_t runDistance = 0;  // of the previous position's match, if it had all 18 bytes
    for (size_t i = 0; i < fullKeys;) {
        const uint32_t node = first + static_cast<uint32_t>(i);
        uint32_t* const root = trees.Root(node);
        const uint8_t* const key = trees.Key(node);
        // In a long repeat the previous match runs on: then this key equals
        // the one runDistance back, and if that is its bucket's root, it is
        // the newest such key, which this node replaces with no search.
        const uint32_t older = node - runDistance;
        if (runDistance != 0 && *root == older && key[kLzssMaxMatch - 1] == trees.Key(older)[kLzssMaxMatch - 1]) {
            // In a run of one byte value every key is the same, and each
            // would replace the one before: only the last need be placed.
            size_t end = i + 1;
            if (runDistance == 1) {
                end = RunEnd(key, i, fullKeys);
                std::fill(lengths + i, lengths + end, static_cast<uint8_t>(kLzssMaxMatch));
                std::fill(distances + i, distances + end, static_cast<uint16_t>(1));
            } else {
                lengths[i] = kLzssMaxMatch;
                distances[i] = static_cast<uint16_t>(runDistance);
            }
            const uint32_t last = first + static_cast<uint32_t>(end - 1);
            const uint32_t smaller = *trees.SmallerChild(older);
            const uint32_t larger = *trees.LargerChild(older);
            *root = last;
            *trees.SmallerChild(last) = smaller;
            *trees.LargerChild(last) = larger;
            i = end;
            continue;
        }
        const Found found = Insert(trees, node, root);
        const bool usable = found.length >= kLzssMinMatch;
        runDistance = found.length == kLzssMaxMatch ? node - found.node : 0;
        lengths[i] = static_cast<uint8_t>(usable ? found.length : 0);
        distances[i] = static_cast<uint16_t>(usable ? node - found.node : 0);
        ++i;
    }
    for (size_t i = fullKeys; i < size; ++i) {
        const uint32_t node = first + static_cast<uint32_t>(i);
        const Found found = Insert(trees, node, trees.Root(node));
        // Padding after the input may have matched too.
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(found.length, size - i));
        const bool usable = length >= kLzssMinMatch;
        lengths[i] = static_cast<uint8_t>(usable ? length : 0);
        distances[i] = static_cast<uint16_t>(usable ? node - found.node : 0);
    }
}

}  // namespace writer
