// The audio classification and conversion on arbitrary entry bytes, as listing and extraction apply them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pw_audio.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    uint32_t packedSize = static_cast<uint32_t>(size);
    // Exactly sized copies: the listing peeks at min(46, size) bytes, the
    // extraction holds the whole entry.
    std::vector<uint8_t> head(data, data + (size < kPwHeaderSize ? size : kPwHeaderSize));
    std::vector<uint8_t> stored(data, data + size);

    uint32_t listed = 0, extracted = 0;
    bool listedAudio = ClassifyEntry(head.data(), packedSize, &listed);
    bool extractedAudio = ClassifyEntry(stored.data(), packedSize, &extracted);
    Check(listedAudio == extractedAudio && listed == extracted);
    if (!listedAudio) {
        Check(listed == packedSize);
        return 0;
    }
    Check(IsPwAudio(stored.data()));
    uint32_t codes = Le32(stored.data() + kPwCodeCountOffset);
    Check(listed == ConvertPwAudio(nullptr, stored.data()) && listed == kPwHeaderSize + 2 * uint64_t{codes});

    std::vector<uint8_t> wave(listed);
    Check(ConvertPwAudio(wave.data(), stored.data()) == 0);
    Check(std::memcmp(wave.data(), "RIFF", 4) == 0 && std::memcmp(wave.data() + 8, "WAVE", 4) == 0);
    Check(Le32(wave.data() + 4) == listed - 8 && Le32(wave.data() + 42) == 2 * codes);
    for (uint32_t k = 0; k < codes; ++k) {
        int16_t sample = static_cast<int16_t>(wave[46 + 2 * k] | (wave[47 + 2 * k] << 8));
        Check(sample == PwDecodeTable[stored[46 + k]]);
    }
    return 0;
}
