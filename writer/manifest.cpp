#include "manifest.h"

#include <nlohmann/json.hpp>

#include <cstring>

#include "atomic_file.h"
#include "source_file.h"
#include "packed_picture.h"
#include "content_hash.h"
#include "zorvan_format.h"

namespace writer {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

constexpr uint64_t kLargestManifest = uint64_t{256} << 20;
// Not-exact reasons listed one by one before the rest are counted.
constexpr size_t kListedReasons = 8;

std::string Shown(const NameField& field) { return "'" + NameFromField(field) + "'"; }

// Collects not-exact reasons of one sort, listing the first few.
class ReasonList {
public:
    explicit ReasonList(std::string what) : what_(std::move(what)) {}
    void Add(const std::string& who) {
        if (names_.size() < kListedReasons) names_.push_back(who);
        ++count_;
    }
    void MoveInto(std::vector<std::string>& reasons) const {
        if (count_ == 0) return;
        std::string text;
        for (const std::string& name : names_) text += (text.empty() ? "" : ", ") + name;
        if (count_ > names_.size()) text += " and " + std::to_string(count_ - names_.size()) + " more";
        reasons.push_back(what_ + ": " + text);
    }

private:
    std::string what_;
    std::vector<std::string> names_;
    size_t count_ = 0;
};

// ---- JSON writing ----

json WrittenFileJson(const WrittenFile& file, const char* holds) {
    json value = {{"path", file.path}, {"size", file.size}, {"xxh64", file.hash}};
    if (holds) value["holds"] = holds;
    return value;
}

json EntryJson(const ManifestEntry& entry) {
    json value = {{"name", entry.name},
                  {"field", HexString(entry.nameField.data(), entry.nameField.size())},
                  {"size", entry.storedSize},
                  {"kind", KindName(entry.kind)}};
    if (entry.file) value["file"] = WrittenFileJson(*entry.file, entry.form == WrittenForm::Wave ? "wave" : "stored");
    if (entry.kind == EntryKind::Audio)
        value["audio"] = {{"header", HexString(entry.audioHeader.data(), entry.audioHeader.size())},
                          {"trailing", HexString(entry.audioTrailing.data(), entry.audioTrailing.size())}};
    if (entry.kind == EntryKind::Picture) {
        json picture = json::object();
        if (!entry.pictureSignature.empty()) picture["signature"] = entry.pictureSignature;
        if (entry.pictureBitCount != 0) picture["bitCount"] = entry.pictureBitCount;
        if (entry.converted) picture["png"] = WrittenFileJson(*entry.converted, nullptr);
        value["picture"] = picture;
    }
    return value;
}

std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// ---- Reading an archive's own facts ----

struct DirectoryRecord {
    NameField name;
    uint32_t size;
};

// Takes `count` bytes at `offset` for the manifest when the budget allows.
bool Carry(SourceFile& file, uint64_t offset, uint64_t count, uint64_t* carried, std::vector<uint8_t>* bytes) {
    if (*carried + count > kMostCarriedBytes) return false;
    *carried += count;
    bytes->resize(static_cast<size_t>(count));
    file.ReadAt(offset, bytes->data(), bytes->size());
    return true;
}

bool ListingAgrees(const std::vector<ListedEntry>& listing, const std::vector<ManifestEntry>& entries) {
    if (listing.size() != entries.size()) return false;
    for (size_t i = 0; i < entries.size(); ++i)
        if (listing[i].storedSize != entries[i].storedSize) return false;
    return true;
}

// `listed`: the kind the plug-in's listing gave, which the bytes must bear out.
void DescribeEntry(SourceFile& file, files::WindowReader& heads, uint64_t offset, const std::optional<EntryKind>& listed,
                   ManifestEntry& entry, uint64_t* carried, ReasonList& tooMuch) {
    const size_t headSize = entry.storedSize < kPwHeaderSize ? entry.storedSize : kPwHeaderSize;
    const uint8_t* head = file.Peek(heads, offset, headSize);
    entry.kind = listed ? *listed : ClassifyEntry(head, entry.storedSize, DeliveredSize(head, entry.storedSize));
    const bool borneOut = entry.kind == EntryKind::Audio     ? IsDeliveredAsWave(head, entry.storedSize)
                          : entry.kind == EntryKind::Picture ? headSize >= kPackedHeaderSize && IsPackedPictureHeader(head)
                                                             : true;
    if (!borneOut)
        throw files::ToolError("the archive changed while it was read: " + Shown(entry.nameField) + " is no longer " +
                               (entry.kind == EntryKind::Audio ? "coded audio" : "a packed picture"))
            .About(file.path());
    if (entry.kind == EntryKind::Audio) {
        entry.form = WrittenForm::Wave;
        entry.audioHeader.assign(head, head + kPwHeaderSize);
        const uint64_t trailingAt = kPwHeaderSize + uint64_t{PwCodeCount(head)};
        if (!Carry(file, offset + trailingAt, entry.storedSize - trailingAt, carried, &entry.audioTrailing))
            tooMuch.Add("the bytes after the codes of " + Shown(entry.nameField));
    } else if (entry.kind == EntryKind::Picture) {
        entry.pictureSignature = head[0] == 'B' ? "B1" : "E1";
    }
}

}  // namespace

bool IsSafeRelativePath(const std::string& path) {
    if (path.empty()) return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        for (unsigned char c : part)
            if (c < 0x20 || c == 0x7F || c == '\\' || c == ':') return false;
        start = end + 1;
    }
    return true;
}

uint64_t WaveSizeOf(const std::vector<uint8_t>& audioHeader) {
    return kPwHeaderSize + 2 * uint64_t{PwCodeCount(audioHeader.data())};
}

namespace {

// The header and the directory: each entry's name field and stored size.
// Returns the directory's offset.
uint64_t ReadDirectory(SourceFile& file, Manifest& manifest) {
    if (file.size() < kArchiveHeaderSize) throw files::ToolError("too short to be an archive").About(file.path());
    file.ReadAt(0, manifest.header.data(), kArchiveHeaderSize);
    const uint32_t count = ReadLe16(manifest.header.data() + kEntryCountField);
    const uint64_t directoryOffset = ReadLe32(manifest.header.data() + kDirectoryOffsetField);
    if (!IsArchiveSignature(manifest.header.data()) ||
        directoryOffset + uint64_t{kDirectoryEntrySize} * count > file.size())
        throw files::ToolError("not a ZORVAN archive").About(file.path());
    std::vector<uint8_t> directory(kDirectoryEntrySize * count);
    file.ReadAt(directoryOffset, directory.data(), directory.size());
    manifest.entries.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        ManifestEntry& entry = manifest.entries[i];
        std::memcpy(entry.nameField.data(), directory.data() + kDirectoryEntrySize * i, kEntryNameLength);
        entry.storedSize = ReadLe32(directory.data() + kDirectoryEntrySize * i + kEntryNameLength);
        entry.name = NameFromField(entry.nameField);
    }
    return directoryOffset;
}

// The bytes between the data and the directory and after the directory,
// or why a rebuild cannot place them.
void CarryLayout(SourceFile& file, uint64_t directoryOffset, Manifest& manifest, uint64_t* carried,
                 ReasonList& tooMuch) {
    uint64_t dataEnd = kArchiveHeaderSize;
    for (const ManifestEntry& entry : manifest.entries) dataEnd += entry.storedSize;
    const uint64_t directoryEnd = directoryOffset + uint64_t{kDirectoryEntrySize} * manifest.entries.size();
    if (dataEnd > 0xFFFFFFFFull)
        manifest.notExact.push_back("the entries' sizes add up past 4 GiB, where positions wrap around");
    if (directoryOffset < dataEnd) {
        manifest.notExact.push_back("the directory (at offset " + std::to_string(directoryOffset) +
                                    ") lies inside the entries' data, which ends at " + std::to_string(dataEnd) +
                                    "; a rebuild puts it behind the data");
        return;
    }
    if (!Carry(file, dataEnd, directoryOffset - dataEnd, carried, &manifest.gap))
        tooMuch.Add("the bytes between the data and the directory");
    if (!Carry(file, directoryEnd, file.size() - directoryEnd, carried, &manifest.tail))
        tooMuch.Add("the bytes after the directory");
}

// The manifest of `path`; with a listing, its kinds (and entry count and
// sizes, which must agree).
Manifest Describe(const fs::path& path, const std::vector<ListedEntry>* listing) {
    // The archive the user named: a link to it is what the user means.
    SourceFile file(path.u8string(), files::Links::Follow);
    Manifest manifest;
    manifest.archiveName = path.filename().u8string();
    manifest.archiveSize = file.size();
    const uint64_t directoryOffset = ReadDirectory(file, manifest);
    if (listing && !ListingAgrees(*listing, manifest.entries))
        throw files::ToolError("the plug-in lists other entries than the archive's directory holds").About(file.path());

    uint64_t carried = 0;
    ReasonList pastTheEnd("entries that reach past the end of the file cannot be extracted");
    ReasonList tooMuch("too many bytes to carry in the manifest");
    files::WindowReader heads(file.file());
    uint64_t offset = kArchiveHeaderSize;
    for (size_t i = 0; i < manifest.entries.size(); ++i) {
        ManifestEntry& entry = manifest.entries[i];
        if (offset + entry.storedSize > file.size())
            pastTheEnd.Add(Shown(entry.nameField));
        else
            DescribeEntry(file, heads, offset, listing ? std::optional<EntryKind>((*listing)[i].kind) : std::nullopt,
                          entry, &carried, tooMuch);
        offset += entry.storedSize;
    }
    CarryLayout(file, directoryOffset, manifest, &carried, tooMuch);
    pastTheEnd.MoveInto(manifest.notExact);
    tooMuch.MoveInto(manifest.notExact);
    return manifest;
}

}  // namespace

Manifest DescribeArchive(const fs::path& path, const std::vector<ListedEntry>& listing) {
    return Describe(path, &listing);
}

Manifest DescribeArchive(const fs::path& path) { return Describe(path, nullptr); }

std::string ManifestToJson(const Manifest& manifest) {
    json archive = {{"name", manifest.archiveName},
                    {"size", manifest.archiveSize},
                    {"header", HexString(manifest.header.data(), manifest.header.size())},
                    {"gap", HexString(manifest.gap.data(), manifest.gap.size())},
                    {"tail", HexString(manifest.tail.data(), manifest.tail.size())},
                    {"notExact", manifest.notExact}};
    // One entry a line: readable, and a changed entry is one changed line.
    std::string text = "{\n \"format\": \"" + std::string(kManifestFormat) +
                       "\",\n \"version\": " + std::to_string(kManifestVersion) + ",\n \"archive\": " + Dump(archive) +
                       ",\n \"entries\": [";
    for (size_t i = 0; i < manifest.entries.size(); ++i)
        text += (i == 0 ? "\n  " : ",\n  ") + Dump(EntryJson(manifest.entries[i]));
    text += manifest.entries.empty() ? "]\n}\n" : "\n ]\n}\n";
    return text;
}

Manifest ReadManifestFile(const fs::path& file) {
    std::vector<uint8_t> bytes = ReadWholeFile(file, kLargestManifest);
    try {
        return ManifestFromJson(bytes.data(), bytes.size());
    } catch (files::ToolError& error) {
        error.About(file.generic_u8string());
        throw;
    }
}

void WriteManifestFile(const fs::path& folder, const Manifest& manifest) {
    const std::string text = ManifestToJson(manifest);
    AtomicFile file(folder / kManifestFileName);
    file.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    file.Commit(true);
}

}  // namespace writer
