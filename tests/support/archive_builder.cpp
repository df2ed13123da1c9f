#include "archive_builder.h"

#include <cstring>

namespace archive_builder {

namespace {

// The decode table written out again, row by row in 16-bit two's complement,
// apart from the module's own copy so that each checks the other.
const char* const kTableRows[16] = {
    "8000 8001 8786 8E99 9542 9B87 A16E A6FC AC37 B123 B5C5 BA22 BE3C C21A C5BD C929",
    "CC62 CF6B D246 D4F6 D77E D9DF DC1D DE39 E036 E215 E3D7 E57F E70E E886 E9E8 EB35",
    "EC6E ED95 EEAB EFB0 F0A6 F18E F268 F335 F3F6 F4AC F557 F5F8 F690 F71F F7A5 F823",
    "F89A F90A F974 F9D7 FA35 FA8D FADF FB2D FB77 FBBC FBFD FC3A FC74 FCAA FCDD FD0D",
    "FD3A FD65 FD8D FDB2 FDD6 FDF7 FE17 FE34 FE50 FE6A FE83 FE9A FEB0 FEC5 FED8 FEEA",
    "FEFC FF0C FF1B FF29 FF37 FF44 FF4F FF5B FF65 FF6F FF79 FF81 FF8A FF92 FF99 FFA0",
    "FFA6 FFAD FFB2 FFB8 FFBD FFC2 FFC6 FFCB FFCF FFD2 FFD6 FFD9 FFDC FFDF FFE2 FFE5",
    "FFE7 FFEA FFEC FFEE FFF0 FFF2 FFF3 FFF5 FFF7 FFF8 FFF9 FFFB FFFC FFFD FFFE FFFF",
    "0000 0001 0002 0003 0004 0005 0007 0008 0009 000B 000D 000E 0010 0012 0014 0016",
    "0019 001B 001E 0021 0024 0027 002A 002E 0031 0035 003A 003E 0043 0048 004E 0053",
    "005A 0060 0067 006E 0076 007F 0087 0091 009B 00A5 00B1 00BC 00C9 00D7 00E5 00F4",
    "0104 0116 0128 013B 0150 0166 017D 0196 01B0 01CC 01E9 0209 022A 024E 0273 029B",
    "02C6 02F3 0323 0356 038C 03C6 0403 0444 0489 04D3 0521 0573 05CB 0629 068C 06F6",
    "0766 07DD 085B 08E1 0970 0A08 0AA9 0B54 0C0A 0CCB 0D98 0E72 0F5A 1050 1155 126B",
    "1392 14CB 1618 177A 18F2 1A81 1C29 1DEB 1FCA 21C7 23E3 2621 2882 2B0A 2DBA 3095",
    "339E 36D7 3A43 3DE6 41C4 45DE 4A3B 4EDD 53C9 5904 5E92 6479 6ABE 7167 787A 7FFF",
};

uint32_t GetLe32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

void PutLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> BuildArchive(const ArchiveRecipe& recipe) {
    std::vector<uint8_t> bytes(16, 0);
    std::memcpy(bytes.data(), recipe.signature.data(), recipe.signature.size() < 5 ? recipe.signature.size() : 5);
    bytes[5] = 0x1A;
    bytes[6] = 0x00;
    bytes[7] = recipe.byte7;
    bytes[14] = 0xC3;  // never interpreted
    bytes[15] = 0x3C;
    std::vector<uint8_t> directory;
    const std::vector<uint32_t> sizes = StoredSizes(recipe);
    for (size_t i = 0; i < recipe.entries.size(); ++i) {
        const Entry& entry = recipe.entries[i];
        uint8_t record[16] = {};
        std::memcpy(record, entry.name.data(), entry.name.size() < 12 ? entry.name.size() : 12);
        PutLe32(record + 12, sizes[i]);
        directory.insert(directory.end(), record, record + 16);
    }
    for (size_t i = 0; i < recipe.entries.size(); ++i) {
        if (recipe.directoryInFirstEntry && i == 0)
            bytes.insert(bytes.end(), directory.begin(), directory.end());
        else
            bytes.insert(bytes.end(), recipe.entries[i].data.begin(), recipe.entries[i].data.end());
    }
    uint32_t directoryOffset = recipe.directoryInFirstEntry ? 16 : static_cast<uint32_t>(bytes.size());
    SetHeader(bytes, static_cast<uint16_t>(recipe.entries.size()), directoryOffset);
    if (!recipe.directoryInFirstEntry) bytes.insert(bytes.end(), directory.begin(), directory.end());
    bytes.insert(bytes.end(), recipe.tail.begin(), recipe.tail.end());
    return bytes;
}

std::vector<uint32_t> StoredSizes(const ArchiveRecipe& recipe) {
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < recipe.entries.size(); ++i)
        sizes.push_back(recipe.directoryInFirstEntry && i == 0 ? 16 * static_cast<uint32_t>(recipe.entries.size())
                                                               : recipe.entries[i].Size());
    return sizes;
}

std::vector<uint32_t> DataOffsets(const ArchiveRecipe& recipe) {
    std::vector<uint32_t> offsets;
    uint32_t offset = 16;
    for (uint32_t size : StoredSizes(recipe)) {
        offsets.push_back(offset);
        offset += size;
    }
    return offsets;
}

std::vector<uint32_t> EntryPositions(const ArchiveRecipe& recipe) {
    std::vector<uint32_t> positions = DataOffsets(recipe);
    std::vector<uint32_t> sizes = StoredSizes(recipe);
    for (size_t i = 0; i < positions.size(); ++i)
        if (sizes[i] == 0) positions[i] = 0;
    return positions;
}

uint32_t DirectoryOffset(const std::vector<uint8_t>& archive) { return GetLe32(archive.data() + 10); }

void SetHeader(std::vector<uint8_t>& archive, uint16_t entryCount, uint32_t directoryOffset) {
    PutLe16(archive.data() + 8, entryCount);
    PutLe32(archive.data() + 10, directoryOffset);
}

std::vector<uint8_t> MakePwAudio(const PwRecipe& recipe) {
    std::vector<uint8_t> bytes(46, 0);
    uint8_t* h = bytes.data();
    std::memcpy(h, "PW10", 4);
    PutLe32(h + 4, 0xDEADBEEF);
    std::memcpy(h + 8, "PCM1", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutLe32(h + 16, recipe.formatLength);
    PutLe16(h + 20, recipe.formatTag);
    PutLe16(h + 22, recipe.channels);
    PutLe32(h + 24, recipe.rate);
    PutLe32(h + 28, 0x12345678);  // byte rate, block align and bits: all wrong
    PutLe16(h + 32, 7);
    PutLe16(h + 34, 8);
    PutLe16(h + 36, recipe.extraLength);
    std::memcpy(h + 38, "data", 4);
    PutLe32(h + 42, recipe.codeCount < 0 ? static_cast<uint32_t>(recipe.codes.size())
                                       : static_cast<uint32_t>(recipe.codeCount));
    bytes.insert(bytes.end(), recipe.codes.begin(), recipe.codes.end());
    for (size_t i = 0; i < recipe.trailing; ++i) bytes.push_back(static_cast<uint8_t>(0xE0 + i));
    return bytes;
}

int16_t ExpectedSample(uint8_t code) {
    const char* row = kTableRows[code >> 4];
    return static_cast<int16_t>(std::strtoul(row + 5 * (code & 15), nullptr, 16));
}

std::vector<uint8_t> ExpectedWave(const std::vector<uint8_t>& entry) {
    const uint8_t* in = entry.data();
    uint32_t count = GetLe32(in + 42);
    uint16_t channels = GetLe16(in + 22);
    std::vector<uint8_t> wave(46 + 2 * static_cast<size_t>(count));
    uint8_t* out = wave.data();
    std::memcpy(out, "RIFF", 4);
    PutLe32(out + 4, 38 + 2 * count);
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, in + 12, 12);  // "fmt ", chunk length, format tag, channels
    PutLe32(out + 24, GetLe32(in + 24));
    uint16_t blockAlign = static_cast<uint16_t>(channels * 2);
    PutLe32(out + 28, GetLe32(in + 24) * blockAlign);
    PutLe16(out + 32, blockAlign);
    PutLe16(out + 34, 16);
    std::memcpy(out + 36, in + 36, 2);
    std::memcpy(out + 38, "data", 4);
    PutLe32(out + 42, 2 * count);
    for (uint32_t k = 0; k < count; ++k) PutLe16(out + 46 + 2 * k, static_cast<uint16_t>(ExpectedSample(in[46 + k])));
    return wave;
}

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 12345u;
    for (uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state);
    }
    return bytes;
}

ArchiveRecipe SmallEntriesRecipe() {
    ArchiveRecipe recipe;
    recipe.entries.reserve(kSmallEntryCount);
    for (uint32_t i = 0; i < kSmallEntryCount; ++i) {
        Entry entry;
        entry.name = "E" + std::to_string(i) + ".BIN";
        if (i % 97 == 0) {
        } else if (i % 50 == 0) {
            PwRecipe audio;
            audio.codes = Bytes(40 + i % 100, i);
            entry.data = MakePwAudio(audio);
        } else {
            entry.data = Bytes(1 + (i * 7919u) % 200, i);
        }
        recipe.entries.push_back(std::move(entry));
    }
    return recipe;
}

}  // namespace archive_builder
