#include "packed_bitmap.h"

#include "plugin_frame.h"

PackedHeader ParsePackedHeader(const uint8_t* bytes) {
    return PackedHeader{ReadLe16(bytes), ReadLe32(bytes + 2), ReadLe32(bytes + 6)};
}

int32_t ProbePackedHeader(const char* fileName, const uint8_t* memory) {
    uint8_t bytes[kPackedHeaderSize];
    if (memory == nullptr) {
        if (fileName == nullptr) return 0;
        HANDLE file = OpenForReading(fileName);
        if (file == INVALID_HANDLE_VALUE) return 0;
        bool complete = ReadExactly(file, bytes, kPackedHeaderSize);
        CloseIfOpen(file);
        if (!complete) return 0;
        memory = bytes;
    }
    return IsPackedPictureHeader(memory) ? 1 : 0;
}

uint64_t LargestUnpackedFrom(uint32_t packedAvailable) {
    uint64_t groups = packedAvailable / 17;
    uint32_t tail = packedAvailable % 17;
    uint64_t largest = groups * 144;
    if (tail > 0) {
        // After the flag byte: as many matches as fit, a literal in an odd byte.
        uint32_t tokenBytes = tail - 1;
        largest += (tokenBytes / 2) * 18 + tokenBytes % 2;
    }
    return largest;
}

const uint8_t BitCountClass[32] = {
    PaletteClass,   PlainClass, PlainClass, PaletteClass,   // 1..4
    PlainClass,     PlainClass, PlainClass, PaletteClass,   // 5..8
    PlainClass,     PlainClass, PlainClass, PlainClass,     // 9..12
    PlainClass,     PlainClass, PlainClass, BitFieldsClass, // 13..16
    PlainClass,     PlainClass, PlainClass, PlainClass,     // 17..20
    PlainClass,     PlainClass, PlainClass, PlainClass,     // 21..24
    PlainClass,     PlainClass, PlainClass, PlainClass,     // 25..28
    PlainClass,     PlainClass, PlainClass, BitFieldsClass, // 29..32
};

uint8_t ClassOfBitCount(uint16_t bitCount) {
    return bitCount >= 1 && bitCount <= 32 ? BitCountClass[bitCount - 1] : PlainClass;
}

InfoHeaderFields ReadInfoHeader(const uint8_t* image) {
    const uint8_t* info = image + kFileHeaderSize;
    return InfoHeaderFields{static_cast<int32_t>(ReadLe32(info + 4)),
                            static_cast<int32_t>(ReadLe32(info + 8)), ReadLe16(info + 14),
                            ReadLe32(info + 16), ReadLe32(info + 32)};
}

uint64_t InfoPartSize(const InfoHeaderFields& info) {
    switch (ClassOfBitCount(info.bitCount)) {
    case PaletteClass: {
        // A stated colour count is taken as given, even above 2^bitCount.
        uint64_t entries = info.colorsUsed != 0 ? info.colorsUsed : uint64_t{1} << info.bitCount;
        return kInfoHeaderSize + 4 * entries;
    }
    case BitFieldsClass:
        return info.compression == 3 ? kInfoHeaderSize + 12 : kInfoHeaderSize;
    default:
        return kInfoHeaderSize;
    }
}
