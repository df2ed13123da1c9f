// Placeholder until the real parser lands: literals only, a valid stream.
#include "lzss_encoder.h"

namespace writer {

LzssEncoder::LzssEncoder(LzssParse parse) : parse_(parse) {}
LzssEncoder::~LzssEncoder() = default;

std::vector<uint8_t> LzssEncoder::Encode(const uint8_t* data, size_t size) {
    std::vector<uint8_t> packed;
    for (size_t i = 0; i < size; i += 8) {
        packed.push_back(0xFF);
        for (size_t k = i; k < i + 8 && k < size; ++k) packed.push_back(data[k]);
    }
    return packed;
}

}  // namespace writer
