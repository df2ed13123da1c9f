// The longest match at every position of an input, for the picture LZSS
// stream: the source may lie up to 4096 bytes back, may reach into the
// zeros the decoder's window starts with, and may overlap the bytes it
// produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace writer {

constexpr uint32_t kLzssWindowSize = 4096;
constexpr uint32_t kLzssMinMatch = 3;
constexpr uint32_t kLzssMaxMatch = 18;
// The decoder's first write position; zeros fill the window before it.
constexpr uint32_t kLzssFirstWritePos = kLzssWindowSize - kLzssMaxMatch;
// The longest input: the unpacked length is a 32-bit field, less a margin
// that keeps the finder's node numbers in 32 bits.
constexpr uint64_t kLzssMaxInput = 0xFFFF0000u;

// Exact, not heuristic: an optimal parse is only as good as its matches.
// Positions whose first three bytes share a hash form a binary search tree
// ordered by their first 18 bytes (their key), so the nearest keys on
// either side of a new one, one of which has the longest common prefix
// with it, lie on its insertion path.
// Each new position becomes its bucket's root, so every child is older
// than its parent, and a subtree that falls out of the window is cut off
// whole, with no deletions. A key equal to the new one on all 18 bytes is
// replaced by it, which keeps runs and repeats at constant cost.
class LzssMatchFinder {
public:
    // For each i < size: lengths[i] is the longest match at i, cut to the
    // bytes left (3..18), or 0 when there is none of 3; distances[i] is the
    // distance back (1..4096) of such a match. Every shorter length of at
    // least 3 is also a match at that distance. Throws files::ToolError
    // for more than kLzssMaxInput bytes.
    void FindAll(const uint8_t* data, size_t size, uint8_t* lengths, uint16_t* distances);

private:
    void Reset(const uint8_t* data, size_t size);

    // The input behind kLzssMaxMatch zeros (older zeros add no other key)
    // and followed by padding for whole-word compares.
    std::vector<uint8_t> bytes_;
    // Per bucket: its tree's root, the newest node with that hash.
    std::vector<uint32_t> roots_;
    uint32_t hashShift_ = 0;
    // Children (smaller, larger) of each node, in a ring of node numbers.
    std::vector<uint32_t> children_;
};

}  // namespace writer
