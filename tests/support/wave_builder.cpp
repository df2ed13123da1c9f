#include "wave_builder.h"

#include <cstring>

namespace wave_builder {

namespace {

void Append32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void Append16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

}  // namespace

std::vector<uint8_t> MakeWave(const std::vector<Chunk>& chunks) {
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const Chunk& chunk : chunks) {
        file.insert(file.end(), chunk.id.begin(), chunk.id.begin() + 4);
        Append32(file, chunk.declaredSize < 0 ? static_cast<uint32_t>(chunk.body.size())
                                              : static_cast<uint32_t>(chunk.declaredSize));
        file.insert(file.end(), chunk.body.begin(), chunk.body.end());
        if (chunk.padded && chunk.body.size() % 2) file.push_back(0);
    }
    const uint32_t rest = static_cast<uint32_t>(file.size() - 8);
    for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<uint8_t>(rest >> (8 * i));
    return file;
}

std::vector<uint8_t> FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                                bool withExtraLength) {
    std::vector<uint8_t> body;
    const uint16_t blockAlign = static_cast<uint16_t>(channels * (bits / 8));
    Append16(body, tag);
    Append16(body, channels);
    Append32(body, rate);
    Append32(body, rate * blockAlign);
    Append16(body, blockAlign);
    Append16(body, bits);
    if (withExtraLength) Append16(body, 0);
    return body;
}

std::vector<uint8_t> ExtensibleBody(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<uint8_t> body = FormatBody(0xFFFE, channels, rate, bits);
    Append16(body, 22);    // extra length
    Append16(body, bits);  // valid bits
    Append32(body, channels == 2 ? 3 : 4);  // speaker mask
    Append16(body, subTag);
    const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    body.insert(body.end(), tail, tail + 14);
    return body;
}

std::vector<uint8_t> PackSamples(const std::vector<int64_t>& values, unsigned bytes) {
    std::vector<uint8_t> out;
    for (int64_t value : values)
        for (unsigned b = 0; b < bytes; ++b) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * b)));
    return out;
}

std::vector<uint8_t> PackFloats(const std::vector<float>& values) {
    std::vector<uint8_t> out;
    for (float value : values) {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        Append32(out, bits);
    }
    return out;
}

}  // namespace wave_builder
