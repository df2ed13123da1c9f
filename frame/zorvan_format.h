// The facts of ZORVAN's formats that the plug-ins, the host and the writer
// all go by: where the fields of the archive, coded-audio and packed-picture
// headers lie, and what makes a header one of ours. Plain constants and
// inline checks over bytes already in memory, with no platform dependency,
// so a reader and a writer can never disagree on them.
#pragma once

#include <cstdint>
#include <cstring>

#include "byte_order.h"

// ---- Archives ----
// A 16-byte header: "ZRV00", "ZRV01" or "ZRV03", 0x1A 0x00, a free byte,
// the u16 entry count, the u32 directory offset, two free bytes. The
// entries' data lies back to back from offset 16 in directory order; the
// directory, wherever the header says, holds a 16-byte record per entry: a
// 12-byte name field, then the u32 size.
constexpr uint32_t kArchiveHeaderSize = 16;
constexpr uint32_t kEntryCountField = 8;
constexpr uint32_t kDirectoryOffsetField = 10;
constexpr uint32_t kFirstEntryPosition = 16;
constexpr uint32_t kDirectoryEntrySize = 16;
constexpr uint32_t kEntryNameLength = 12;

// The signatures readers accept; `header` holds at least 7 bytes.
inline bool IsArchiveSignature(const uint8_t* header) {
    return std::memcmp(header, "ZRV0", 4) == 0 && (header[4] == '0' || header[4] == '1' || header[4] == '3') &&
           header[5] == 0x1A && header[6] == 0x00;
}

// Asked to ignore letter case, the archive plug-in compares name fields
// byte for byte with ASCII letters folded: no other byte is a letter to it,
// so the bytes of a code-page-932 character never fold.
inline char FoldArchiveNameByte(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// ---- Coded audio (PwAudio) ----
// A 46-byte header in the shape of a WAVE header ("PW10", a u32, "PCM1",
// "fmt " and the format fields, "data" at 38, the code count N at 42), then
// one code per sample. The archive plug-in delivers such an entry as a
// 16-bit WAVE image of 46 + 2N bytes.
constexpr uint32_t kPwHeaderSize = 46;
constexpr uint32_t kPwCodeCountOffset = 42;
// The most codes whose WAVE image still has a 32-bit length.
constexpr uint32_t kMostPwCodes = (0xFFFFFFFFu - kPwHeaderSize) / 2;

// True when the four tags stand in place. `head` holds kPwHeaderSize bytes.
inline bool IsPwAudio(const uint8_t* head) {
    return std::memcmp(head, "PW10", 4) == 0 && std::memcmp(head + 8, "PCM1", 4) == 0 &&
           std::memcmp(head + 12, "fmt ", 4) == 0 && std::memcmp(head + 38, "data", 4) == 0;
}

inline uint32_t PwCodeCount(const uint8_t* head) { return ReadLe32(head + kPwCodeCountOffset); }

// Whether the archive plug-in delivers an entry of `storedSize` bytes as a
// WAVE image: a whole header with the tags, all N codes stored, and N at
// most kMostPwCodes. `head` holds the entry's first min(kPwHeaderSize,
// storedSize) bytes.
inline bool IsDeliveredAsWave(const uint8_t* head, uint32_t storedSize) {
    if (storedSize < kPwHeaderSize || !IsPwAudio(head)) return false;
    const uint32_t codes = PwCodeCount(head);
    return codes <= storedSize - kPwHeaderSize && codes <= kMostPwCodes;
}

// ---- Packed pictures ----
// A 10-byte header: "B1" or "E1", the u32 packed length, the u32 unpacked
// length; then the packed stream.
constexpr uint32_t kPackedHeaderSize = 10;
constexpr uint16_t kSignatureB1 = 0x3142;  // "B1"
constexpr uint16_t kSignatureE1 = 0x3145;  // "E1"

// A header the picture plug-in accepts: a known signature and both lengths
// nonzero. `header` holds kPackedHeaderSize bytes.
inline bool IsPackedPictureHeader(const uint8_t* header) {
    const uint16_t signature = ReadLe16(header);
    return (signature == kSignatureB1 || signature == kSignatureE1) && ReadLe32(header + 2) != 0 &&
           ReadLe32(header + 6) != 0;
}

// ---- What an archive entry is ----
// One rule for every tool: the listing, extraction, the manifest and the
// rebuild all take an entry's kind from here.
enum class EntryKind : uint8_t { File, Picture, Audio };

// "file", "picture", "audio": as listings and manifests name them.
inline const char* KindName(EntryKind kind) {
    return kind == EntryKind::Audio ? "audio" : kind == EntryKind::Picture ? "picture" : "file";
}

// Coded audio when the archive plug-in delivers the entry as the WAVE image
// its header describes (it lists it at `deliveredSize`, 46 + 2N bytes); a
// packed picture when its header is one the picture plug-in accepts; any
// other entry is a plain file. `head` holds the entry's first
// min(kPwHeaderSize, storedSize) bytes.
inline EntryKind ClassifyEntry(const uint8_t* head, uint32_t storedSize, uint32_t deliveredSize) {
    if (IsDeliveredAsWave(head, storedSize) &&
        uint64_t{deliveredSize} == kPwHeaderSize + 2 * uint64_t{PwCodeCount(head)})
        return EntryKind::Audio;
    if (storedSize >= kPackedHeaderSize && IsPackedPictureHeader(head)) return EntryKind::Picture;
    return EntryKind::File;
}

// The size the archive plug-in delivers an entry at: coded audio as its
// WAVE image, anything else as stored. `head` as for ClassifyEntry.
inline uint32_t DeliveredSize(const uint8_t* head, uint32_t storedSize) {
    return IsDeliveredAsWave(head, storedSize) ? kPwHeaderSize + 2 * PwCodeCount(head) : storedSize;
}
