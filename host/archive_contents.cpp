#include "archive_contents.h"

#include <algorithm>
#include <cstring>
#include <numeric>

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

// Mostly the positions rise along the directory, but for empty entries
// listed at 0 (which only meet one another there): then nothing needs sorting.
void MarkSharedPositions(std::vector<ArchiveEntry>& entries) {
    auto position = [&](uint32_t i) { return entries[i].position; };
    std::vector<uint32_t> order;
    order.reserve(entries.size());
    for (uint32_t i = 0; i < entries.size(); ++i)
        if (entries[i].storedSize != 0 || position(i) != 0) order.push_back(i);
    bool rising = order.empty() || position(order[0]) != 0;
    for (size_t k = 1; rising && k < order.size(); ++k) rising = position(order[k - 1]) < position(order[k]);
    if (rising) return;

    order.resize(entries.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return position(a) != position(b) ? position(a) < position(b) : a < b;
    });
    for (size_t first = 0, k = 1; k < order.size(); ++k) {
        if (position(order[k]) != position(order[first])) {
            first = k;
        } else if (entries[order[first]].storedSize != 0 || entries[order[k]].storedSize != 0) {
            entries[order[k]].sharesPositionWith = order[first];
        }
    }
}

ArchiveContents ReadArchiveContents(ArchivePlugin& archives, const std::string& path) {
    files::InputFile file(path);
    if (!archives.IsSupported(path)) throw files::ToolError("not a ZORVAN archive").About(path);
    const ArchiveListing records = archives.List(path);
    ArchiveContents contents;
    std::vector<uint8_t> header = file.ReadAt(0, kArchiveHeaderSize);
    if (std::optional<ArchiveHeader> h = ReadArchiveHeader(header.data(), header.size()))
        contents.signature = h->signature;

    files::WindowReader peeks(file);
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
        contents.entries.push_back(std::move(entry));
    }
    MarkSharedPositions(contents.entries);
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
