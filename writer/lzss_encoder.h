// Packs bytes into the LZSS stream of ZORVAN's packed pictures: a 4096-byte
// window that starts as zeros with its write position at 4078; groups of a
// flag byte (least significant bit first: 1 a literal byte, 0 a match) and
// up to eight tokens; a match is a 12-bit window position and a 4-bit
// length of 3 to 18.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzss_match_finder.h"

namespace writer {

enum class LzssParse {
    // The smallest stream for the format's fixed costs (a literal 9 bits, a
    // match 17): a shortest path over the longest match at every position,
    // every shorter length at a position being available too.
    Optimal,
    // The longest match at each step, for when speed matters more than size.
    Greedy,
};

class LzssEncoder {
public:
    explicit LzssEncoder(LzssParse parse = LzssParse::Optimal);
    ~LzssEncoder();
    LzssEncoder(const LzssEncoder&) = delete;
    LzssEncoder& operator=(const LzssEncoder&) = delete;

    // The packed stream of `size` bytes; it unpacks to exactly those bytes
    // with an unpacked length of `size`. Working memory, about 5 bytes per
    // input byte, is kept for the next call; an encoder serves one thread
    // at a time. Throws files::ToolError for more than kLzssMaxInput bytes,
    // a little under what the packed picture's 32-bit length field holds.
    std::vector<uint8_t> Encode(const uint8_t* data, size_t size);

private:
    void ChooseOptimalTokens(size_t size);
    std::vector<uint8_t> WriteTokens(const uint8_t* data, size_t size);

    LzssParse parse_;
    LzssMatchFinder finder_;
    // Per input position: the longest match, then the length of the token
    // the parse starts there (1 for a literal); and the match's distance.
    std::vector<uint8_t> lengths_;
    std::vector<uint16_t> distances_;
    std::vector<uint8_t> packed_;
};

}  // namespace writer
