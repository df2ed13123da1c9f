// An archive as the tools present it: the plug-in's listing, each entry's
// name decoded, its kind told from its first bytes, and the path it is
// extracted to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plugin_calls.h"
#include "zorvan_format.h"

namespace host {

// What an entry is: the one rule of the formats' shared facts.
using ::EntryKind;
using ::KindName;

struct ArchiveEntry {
    uint32_t index = 0;
    uint32_t position = 0;
    uint32_t storedSize = 0;
    uint32_t deliveredSize = 0;
    EntryKind kind = EntryKind::File;
    std::string rawName;  // as stored: code page 932 bytes
    std::string name;     // UTF-8
    // An earlier entry listed at the same position. The plug-in finds
    // entries by position, so it cannot deliver this one apart from that
    // one unless both are empty.
    std::optional<uint32_t> sharesPositionWith;
};

struct ArchiveContents {
    std::string signature;
    std::vector<ArchiveEntry> entries;

    uint64_t StoredTotal() const;
    uint64_t DeliveredTotal() const;
    size_t Count(EntryKind kind) const;
};

// Lists the archive through the plug-in and reads each entry's first bytes
// to tell its kind (ClassifyEntry, by the sizes the plug-in listed).
// ToolError ("cannot open: ...", "not a ZORVAN archive", or of kind
// PluginRefused) about the archive when it cannot be listed.
ArchiveContents ReadArchiveContents(ArchivePlugin& archives, const std::string& path);

// Sets sharesPositionWith of each entry listed at the position of an
// earlier one, unless both are empty: to the first entry there.
void MarkSharedPositions(std::vector<ArchiveEntry>& entries);

// How extraction names its files.
struct OutputNaming {
    bool audioAsWave = true;      // coded audio gets ".wav" in place of its extension
    bool picturePngs = false;     // each packed picture also gets a ".png" beside it
    // A file of the tool's own beside the entries (the manifest): no entry
    // may take its path, whatever the entry's name.
    std::string reservedFile;
};

// The safe, unique relative path of every entry, in directory order. All
// entries are planned, selected or not, so a name never depends on which
// others are extracted with it.
struct OutputPaths {
    std::string file;
    std::string png;  // with picturePngs, for a packed picture
};
std::vector<OutputPaths> PlanOutputPaths(const std::vector<ArchiveEntry>& entries, OutputNaming naming);

// The name with its extension (if any) replaced by `extension` (".wav").
// A leading dot does not start an extension.
std::string ReplaceExtension(const std::string& utf8Name, const std::string& extension);

}  // namespace host
