// WAVE files built in memory for the writer's tests and fuzz seeds: a list
// of chunks, each padded to an even length unless told otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wave_builder {

struct Chunk {
    std::string id;  // four characters
    std::vector<uint8_t> body;
    bool padded = true;  // an odd body gets its pad byte
    int64_t declaredSize = -1;  // written instead of body.size() when set
};

// "RIFF", the length of the rest, "WAVE", then the chunks.
std::vector<uint8_t> MakeWave(const std::vector<Chunk>& chunks);

// A format chunk body of 16 bytes (18 with `withExtraLength`), block align and
// byte rate from channels and bits.
std::vector<uint8_t> FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                                bool withExtraLength = false);
// The 40-byte extensible body whose sub-format GUID carries `subTag`.
std::vector<uint8_t> ExtensibleBody(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits);

// Little-endian samples of `bytes` bytes each, the low bytes of each value.
std::vector<uint8_t> PackSamples(const std::vector<int64_t>& values, unsigned bytes);
std::vector<uint8_t> PackFloats(const std::vector<float>& values);

}  // namespace wave_builder
