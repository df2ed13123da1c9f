// Differential: the fast LZSS decoder (both word widths) against the plain ring-window decoder, output capacity from the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzss_decoder.h"
#include "lzss_test_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Two leading bytes pick the output size, up to 64 KiB.
    uint32_t unpackedLength = static_cast<uint32_t>(data[0] | (data[1] << 8));
    const uint8_t* packed = data + 2;
    uint32_t packedAvailable = static_cast<uint32_t>(size - 2);

    // Exactly sized buffers, so the sanitizer sees any access outside them.
    std::vector<uint8_t> input(packed, packed + packedAvailable);
    std::vector<uint8_t> output(unpackedLength);
    uint32_t produced = LzssDecoder(output.data(), unpackedLength, input.data(), packedAvailable);

    uint32_t expectedCount = 0;
    std::vector<uint8_t> expected =
        lzss_test::LzssReferenceDecode(input.data(), packedAvailable, unpackedLength, &expectedCount);
    if (produced != expectedCount) std::abort();
    if (produced != 0 && std::memcmp(output.data(), expected.data(), produced) != 0) std::abort();

    // The same decoder as the 32-bit build compiles it.
    std::vector<uint8_t> narrow(unpackedLength);
    if (LzssDecoderOtherWordWidth(narrow.data(), unpackedLength, input.data(), packedAvailable) != produced)
        std::abort();
    if (produced != 0 && std::memcmp(narrow.data(), expected.data(), produced) != 0) std::abort();
    return 0;
}
