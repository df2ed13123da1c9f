// The packed picture file (its header's layout is in zorvan_format.h): the
// probe that recognises it, and the sizing rules for the bitmap it unpacks to.
#pragma once

#include <cstdint>

#include "zorvan_format.h"

// Layout of the unpacked image: a 14-byte file header, then the 40-byte
// info header; the smallest image that holds both is 54 bytes.
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kSmallestImage = kFileHeaderSize + kInfoHeaderSize;

struct PackedHeader {
    uint16_t signature;
    uint32_t packedLength;
    uint32_t unpackedLength;
};

// Reads the header fields from 10 bytes.
PackedHeader ParsePackedHeader(const uint8_t* bytes);

// 1 when the header is ours: a known signature and both lengths nonzero.
// Takes exactly one of a file name (read and closed here) or 10 bytes of
// memory; the other is null. Every failure is 0.
int32_t ProbePackedHeader(const char* fileName, const uint8_t* memory);

// The most output any stream of `packedAvailable` bytes can produce: a flag
// byte and eight longest matches give 144 bytes for 17.
uint64_t LargestUnpackedFrom(uint32_t packedAvailable);

constexpr uint8_t PaletteClass = 0;
constexpr uint8_t BitFieldsClass = 1;
constexpr uint8_t PlainClass = 2;

// Class of each bit count 1..32, indexed by bit count - 1.
extern const uint8_t BitCountClass[32];

// Bit counts outside 1..32 count as plain.
uint8_t ClassOfBitCount(uint16_t bitCount);

// The fields of the info header that the entry points use.
struct InfoHeaderFields {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t colorsUsed;
};

// `image` is an unpacked image of at least kSmallestImage bytes.
InfoHeaderFields ReadInfoHeader(const uint8_t* image);

// Size of the info header plus its colour table or masks. 64-bit so that any
// colorsUsed gives its true size, which callers then compare with the image.
uint64_t InfoPartSize(const InfoHeaderFields& info);
