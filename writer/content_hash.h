// The digest a manifest keeps of each extracted file, to tell whether it is
// still the one written: XXH64 (seed 0), as `xxhsum -H1` prints it. Fast
// enough to run over everything an extraction writes without slowing it
// (SHA-256 took several times as long as the extraction itself); the
// question is whether a user changed a file, which no adversary asks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace writer {

class ContentHash {
public:
    void Update(const uint8_t* data, size_t size);
    uint64_t Finish() const;
    // The digest in lower-case hexadecimal, most significant digit first.
    std::string FinishHex() const;

private:
    uint64_t lanes_[4] = {0x9E3779B185EBCA87ull + 0xC2B2AE3D27D4EB4Full, 0xC2B2AE3D27D4EB4Full, 0,
                          0 - 0x9E3779B185EBCA87ull};
    uint8_t pending_[32];
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

// The digest of `size` bytes in lower-case hexadecimal (16 digits).
std::string ContentHashHex(const uint8_t* data, size_t size);

// Lower-case hexadecimal, two digits a byte.
std::string HexString(const uint8_t* data, size_t size);

}  // namespace writer
