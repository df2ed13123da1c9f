// The manifest that extraction leaves beside the extracted files, so that a
// rebuild can give the archive back byte for byte: everything that
// identifies the archive beyond its entries' contents (its header bytes, the
// raw name fields, the bytes between the data and the directory and after
// it, and for coded audio what a WAVE cannot carry), what was written for
// each entry with its digest, and, where the archive's layout is one a
// rebuild cannot reproduce, why.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "tool_error.h"
#include <string>
#include <vector>

#include "archive_writer.h"

namespace writer {

constexpr char kManifestFileName[] = "zorv-manifest.json";
constexpr char kManifestFormat[] = "zorv-manifest";  // its "format" member
constexpr int kManifestVersion = 1;
// Bytes the manifest carries in all (gap, tail, bytes after audio codes);
// an archive that needs more is recorded as not rebuildable exactly.
constexpr uint64_t kMostCarriedBytes = uint64_t{16} << 20;

// What an entry is: the one rule of the formats' shared facts.
using ::EntryKind;
using ::KindName;

// What an extracted file holds.
enum class WrittenForm {
    Stored,  // the entry's stored bytes
    Wave,    // the WAVE the archive plug-in makes of coded audio
};

struct WrittenFile {
    std::string path;  // relative to the manifest's folder, '/' between parts, UTF-8
    uint64_t size = 0;
    std::string hash;  // ContentHashHex of its bytes
};

struct ManifestEntry {
    NameField nameField{};  // all 12 bytes, as stored
    std::string name;       // decoded, for people; a rebuild uses nameField
    uint32_t storedSize = 0;
    EntryKind kind = EntryKind::File;
    std::optional<WrittenFile> file;  // absent: the entry was not extracted
    WrittenForm form = WrittenForm::Stored;
    // Coded audio: the stored 46-byte header and the bytes stored after
    // the codes.
    std::vector<uint8_t> audioHeader;
    std::vector<uint8_t> audioTrailing;
    // Packed pictures: "B1" or "E1", the bit count (0: unknown), and the
    // PNG written beside the picture, if one was.
    std::string pictureSignature;
    uint16_t pictureBitCount = 0;
    std::optional<WrittenFile> converted;
};

struct Manifest {
    std::string archiveName;  // for people
    uint64_t archiveSize = 0;
    std::array<uint8_t, kArchiveHeaderSize> header{};  // as stored
    std::vector<uint8_t> gap;   // between the entries' data and the directory
    std::vector<uint8_t> tail;  // after the directory
    // Why a rebuild cannot give this archive back byte for byte; empty
    // when it can.
    std::vector<std::string> notExact;
    std::vector<ManifestEntry> entries;  // in directory order
};

// What the archive plug-in listed of an entry, as the host read it.
struct ListedEntry {
    uint32_t storedSize = 0;
    EntryKind kind = EntryKind::File;
};

// Everything the archive itself says: header, layout, and for each entry
// its name field, size, audio header and trailing bytes, picture
// signature; each entry's kind is the one `listing` gives, so the manifest
// and the extraction it records never disagree on what an entry is.
// Extraction adds decoded names, written files and hashes. Throws a
// files::ToolError about the archive when it cannot be read, is not an
// archive, or does not hold what the listing says (it changed since).
Manifest DescribeArchive(const std::filesystem::path& archive, const std::vector<ListedEntry>& listing);

// The same with each kind told from the archive's bytes alone
// (ClassifyEntry, at the size the archive plug-in delivers the entry), for
// callers without the plug-in's listing.
Manifest DescribeArchive(const std::filesystem::path& archive);

// The manifest as JSON, and back. The reader takes nothing on trust: wrong
// types, unknown keys, bad hexadecimal, unsafe paths, sizes and layouts that
// do not add up all give a files::ToolError that says what and where.
std::string ManifestToJson(const Manifest& manifest);
Manifest ManifestFromJson(const uint8_t* data, size_t size);

Manifest ReadManifestFile(const std::filesystem::path& file);
// Writes kManifestFileName into `folder`, complete or not at all.
void WriteManifestFile(const std::filesystem::path& folder, const Manifest& manifest);

// True for a relative path a manifest may name: '/'-separated parts, none
// empty, "." or "..", no '\', ':' or control characters.
bool IsSafeRelativePath(const std::string& path);

// The WAVE length an extracted coded-audio entry has: 46 + 2N.
uint64_t WaveSizeOf(const std::vector<uint8_t>& audioHeader);

}  // namespace writer
