// Facts of ZORVAN's formats that more than one writer part reads: the
// archive signature, the coded-audio header's tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "byte_order.h"

namespace writer {

constexpr size_t kAudioHeaderBytes = 46;
constexpr size_t kAudioCodeCountOffset = 42;


// "ZRV00", "ZRV01" or "ZRV03", then 0x1A 0x00, as readers accept it.
inline bool IsArchiveSignature(const uint8_t* header) {
    for (const char* known : {"ZRV00", "ZRV01", "ZRV03"})
        if (std::memcmp(header, known, 5) == 0) return header[5] == 0x1A && header[6] == 0x00;
    return false;
}

// The four tags of a coded-audio header in place ("PW10", "PCM1", "fmt ", "data").
inline bool HasAudioTags(const uint8_t* head) {
    return std::memcmp(head, "PW10", 4) == 0 && std::memcmp(head + 8, "PCM1", 4) == 0 &&
           std::memcmp(head + 12, "fmt ", 4) == 0 && std::memcmp(head + 38, "data", 4) == 0;
}

}  // namespace writer
