#include "content_hash.h"

#include <cstring>

#include "byte_order.h"

namespace writer {

namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

inline uint64_t RotateLeft(uint64_t x, int n) { return (x << n) | (x >> (64 - n)); }

// Two halves: compilers make one load of this form, but not of a byte loop.
inline uint64_t Load64(const uint8_t* p) { return ReadLe32(p) | uint64_t{ReadLe32(p + 4)} << 32; }

inline uint64_t Round(uint64_t lane, uint64_t input) {
    lane += input * kPrime2;
    return RotateLeft(lane, 31) * kPrime1;
}

inline uint64_t MergeRound(uint64_t hash, uint64_t lane) {
    hash ^= Round(0, lane);
    return hash * kPrime1 + kPrime4;
}

inline void Stripe(uint64_t* lanes, const uint8_t* p) {
    lanes[0] = Round(lanes[0], Load64(p));
    lanes[1] = Round(lanes[1], Load64(p + 8));
    lanes[2] = Round(lanes[2], Load64(p + 16));
    lanes[3] = Round(lanes[3], Load64(p + 24));
}

}  // namespace

void ContentHash::Update(const uint8_t* data, size_t size) {
    totalBytes_ += size;
    if (pendingSize_ > 0) {
        size_t take = size < 32 - pendingSize_ ? size : 32 - pendingSize_;
        std::memcpy(pending_ + pendingSize_, data, take);
        pendingSize_ += take;
        data += take;
        size -= take;
        if (pendingSize_ < 32) return;
        Stripe(lanes_, pending_);
        pendingSize_ = 0;
    }
    // Four independent lanes: the multiplies overlap.
    uint64_t lanes[4] = {lanes_[0], lanes_[1], lanes_[2], lanes_[3]};
    for (; size >= 32; data += 32, size -= 32) Stripe(lanes, data);
    std::memcpy(lanes_, lanes, sizeof lanes);
    if (size > 0) std::memcpy(pending_, data, size);
    pendingSize_ = size;
}

uint64_t ContentHash::Finish() const {
    uint64_t hash;
    if (totalBytes_ >= 32) {
        hash = RotateLeft(lanes_[0], 1) + RotateLeft(lanes_[1], 7) + RotateLeft(lanes_[2], 12) +
               RotateLeft(lanes_[3], 18);
        for (uint64_t lane : lanes_) hash = MergeRound(hash, lane);
    } else {
        hash = kPrime5;  // the seed, 0, plus the fifth prime
    }
    hash += totalBytes_;
    const uint8_t* p = pending_;
    size_t left = pendingSize_;
    for (; left >= 8; p += 8, left -= 8) hash = RotateLeft(hash ^ Round(0, Load64(p)), 27) * kPrime1 + kPrime4;
    if (left >= 4) {
        hash = RotateLeft(hash ^ (uint64_t{ReadLe32(p)} * kPrime1), 23) * kPrime2 + kPrime3;
        p += 4;
        left -= 4;
    }
    for (; left > 0; ++p, --left) hash = RotateLeft(hash ^ (*p * kPrime5), 11) * kPrime1;
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

std::string ContentHash::FinishHex() const {
    const uint64_t hash = Finish();
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(hash >> (56 - 8 * i));
    return HexString(bytes, sizeof bytes);
}

std::string ContentHashHex(const uint8_t* data, size_t size) {
    ContentHash hash;
    hash.Update(data, size);
    return hash.FinishHex();
}

std::string HexString(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(2 * size, '0');
    for (size_t i = 0; i < size; ++i) {
        text[2 * i] = kDigits[data[i] >> 4];
        text[2 * i + 1] = kDigits[data[i] & 0xF];
    }
    return text;
}

}  // namespace writer
