// SHA-256, for telling whether an extracted file is still the one written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace writer {

class Sha256 {
public:
    Sha256();
    void Update(const uint8_t* data, size_t size);
    // The digest; the object must not be updated afterwards.
    std::array<uint8_t, 32> Finish();

private:
    void Compress(const uint8_t* block);

    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

// Lower-case hexadecimal, two digits a byte.
std::string HexString(const uint8_t* data, size_t size);

// The digest of `size` bytes in lower-case hexadecimal, as sha256sum prints it.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace writer
