// The writer's LZSS encoder on arbitrary input: both parses must unpack
// through the picture plug-in's decoder to the input, the optimal one never
// larger than the greedy one and, for small inputs, exactly as small as a
// brute-force optimal parse.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzss_brute_force.h"
#include "lzss_decoder.h"
#include "lzss_encoder.h"

namespace {

// Small enough for the brute force to keep the fuzzer fast.
constexpr size_t kBruteForceLimit = 192;

void CheckUnpacks(const std::vector<uint8_t>& packed, const uint8_t* data, size_t size) {
    // An exactly sized copy, so the sanitizer sees any read past the stream.
    std::vector<uint8_t> stream(packed);
    std::vector<uint8_t> out(size);
    const uint32_t produced =
        LzssDecoder(out.data(), static_cast<uint32_t>(size), stream.data(), static_cast<uint32_t>(stream.size()));
    if (produced != size || (size != 0 && std::memcmp(out.data(), data, size) != 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Kept across inputs, as a batch packer keeps them.
    static writer::LzssEncoder optimal(writer::LzssParse::Optimal);
    static writer::LzssEncoder greedy(writer::LzssParse::Greedy);

    const std::vector<uint8_t> best = optimal.Encode(data, size);
    const std::vector<uint8_t> fast = greedy.Encode(data, size);
    CheckUnpacks(best, data, size);
    CheckUnpacks(fast, data, size);
    if (best.size() > fast.size()) std::abort();

    uint64_t bestBits = 0, fastBits = 0;
    if (!lzss_brute_force::StreamBits(best, size, &bestBits) || !lzss_brute_force::StreamBits(fast, size, &fastBits) ||
        bestBits > fastBits) {
        std::abort();
    }
    if (size <= kBruteForceLimit && bestBits != lzss_brute_force::OptimalParse(data, size).bits) std::abort();
    return 0;
}
