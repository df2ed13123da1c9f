// Writes ZORVAN archives: the 16-byte header, the entries' data back to back
// from offset 16, then the directory of 16-byte entries (a 12-byte name
// field and the u32 size). Everything that can be refused is refused before
// the first byte reaches the sink; the data is then streamed, entry by
// entry, so an archive of any size costs one pass and little memory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_sink.h"
#include "zorvan_format.h"

namespace writer {

constexpr uint32_t kMostArchiveEntries = 65535;

using NameField = std::array<uint8_t, kEntryNameLength>;

// The name field of a new entry: `rawName` (code page bytes, as the caller
// encoded them) padded with zeros. Refuses an empty name, one longer than
// 12 bytes and one holding a 0x00 byte, naming `shownName` in the message.
NameField MakeNameField(std::string_view rawName, std::string_view shownName);

// The name as stored: the field's bytes up to the first 0x00.
std::string NameFromField(const NameField& field);

// The key under which the archive plug-in, ignoring letter case, takes two
// names (their stored bytes) as one: FoldArchiveNameByte over each byte.
std::string FoldArchiveName(std::string rawName);

enum class ArchiveSignature { Zrv00, Zrv01, Zrv03 };
// "ZRV00", "ZRV01" or "ZRV03"; throws files::ToolError for anything else.
ArchiveSignature ParseArchiveSignature(std::string_view text);

// What identifies an archive beyond its entries.
struct ArchiveLayout {
    // Header bytes 0 to 7: "ZRV0x", 0x1A, 0x00 and byte 7 (never read).
    std::array<uint8_t, 8> signature{};
    // Header bytes 14 and 15 (never read).
    std::array<uint8_t, 2> reserved{};
    std::vector<uint8_t> gap;   // between the entries' data and the directory
    std::vector<uint8_t> tail;  // after the directory
};

// A fresh archive's layout: byte 7, bytes 14-15, gap and tail all empty.
ArchiveLayout DefaultLayout(ArchiveSignature signature);

struct ArchiveEntry {
    NameField name{};
    uint32_t size = 0;
    // Writes exactly `size` bytes of the entry's data; may throw.
    std::function<void(ByteSink&)> writeData;
    // Who the entry is in messages: its name or the file it comes from.
    std::string label;
};

// Refuses (files::ToolError, nothing written) more than 65,535 entries, an archive
// that would reach 4 GiB, and a layout whose signature is not one readers
// accept. An entry whose writer delivers another count than its size stops
// the archive with a files::ToolError naming it.
void WriteArchive(ByteSink& sink, const ArchiveLayout& layout, const std::vector<ArchiveEntry>& entries);

// An entry whose data is in memory.
ArchiveEntry EntryFromBytes(const NameField& name, std::vector<uint8_t> bytes, std::string label);

}  // namespace writer
