#include "archive_contents.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "input_file.h"
#include "names.h"
#include "safe_path.h"
#include "zorvan_headers.h"

namespace host {

uint64_t ArchiveContents::StoredTotal() const {
    uint64_t total = 0;
    for (const ArchiveEntry& e : entries) total += e.storedSize;
    return total;
}

uint64_t ArchiveContents::DeliveredTotal() const {
    uint64_t total = 0;
    for (const ArchiveEntry& e : entries) total += e.deliveredSize;
    return total;
}

size_t ArchiveContents::Count(EntryKind kind) const {
    return static_cast<size_t>(
        std::count_if(entries.begin(), entries.end(), [&](const ArchiveEntry& e) { return e.kind == kind; }));
}

namespace {

// A head cut short (the entry reaches past the end of the file) makes a
// plain file: the plug-in delivers no such entry at all.
EntryKind KindOf(const ArchiveEntryRecord& record, ByteSpan head) {
    if (head.size < std::min<uint32_t>(record.packedSize, kPwHeaderSize)) return EntryKind::File;
    return ClassifyEntry(head.data, record.packedSize, record.outputSize);
}

}  // namespace

ArchiveContents ReadArchiveContents(ArchivePlugin& archives, const std::string& path) {
    files::InputFile file(path);
    if (!archives.IsSupported(path)) throw files::ToolError("not a ZORVAN archive").About(path);
    const ArchiveListing records = archives.List(path);
    ArchiveContents contents;
    std::vector<uint8_t> header = file.ReadAt(0, kArchiveHeaderSize);
    if (std::optional<ArchiveHeader> h = ReadArchiveHeader(header.data(), header.size()))
        contents.signature = h->signature;

    files::WindowReader peeks(file);
    std::unordered_map<uint32_t, uint32_t> firstAtPosition;
    firstAtPosition.reserve(records.size());
    contents.entries.reserve(records.size());
    for (uint32_t i = 0; i < records.size(); ++i) {
        const ArchiveEntryRecord record = records[i];
        ArchiveEntry entry;
        entry.index = i;
        entry.position = record.position;
        entry.storedSize = record.packedSize;
        entry.deliveredSize = record.outputSize;
        entry.rawName = EntryNameBytes(record);
        entry.name = NameToUtf8(entry.rawName);
        ByteSpan head;
        head.data = peeks.Peek(record.position, std::min<uint32_t>(record.packedSize, kPwHeaderSize), &head.size);
        entry.kind = KindOf(record, head);
        auto [first, inserted] = firstAtPosition.emplace(record.position, i);
        if (!inserted && (contents.entries[first->second].storedSize != 0 || entry.storedSize != 0))
            entry.sharesPositionWith = first->second;
        contents.entries.push_back(std::move(entry));
    }
    return contents;
}

std::string ReplaceExtension(const std::string& utf8Name, const std::string& extension) {
    size_t partStart = utf8Name.find_last_of("\\/");
    partStart = partStart == std::string::npos ? 0 : partStart + 1;
    size_t dot = utf8Name.rfind('.');
    bool hasExtension = dot != std::string::npos && dot > partStart;
    return (hasExtension ? utf8Name.substr(0, dot) : utf8Name) + extension;
}

std::vector<OutputPaths> PlanOutputPaths(const std::vector<ArchiveEntry>& entries, OutputNaming naming) {
    OutputPlanner planner;
    if (!naming.reservedFile.empty()) planner.Assign(naming.reservedFile);
    std::vector<OutputPaths> paths(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const ArchiveEntry& entry = entries[i];
        std::string name = entry.name;
        if (entry.kind == EntryKind::Audio && naming.audioAsWave) name = ReplaceExtension(name, ".wav");
        paths[i].file = planner.Assign(name);
        if (entry.kind == EntryKind::Picture && naming.picturePngs)
            paths[i].png = planner.Assign(ReplaceExtension(paths[i].file, ".png"));
    }
    return paths;
}

}  // namespace host
