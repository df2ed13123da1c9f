#include "manifest.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <set>

#include "atomic_file.h"
#include "input_file.h"
#include "packed_picture.h"
#include "sha256.h"

namespace writer {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

constexpr char kFormatName[] = "zorv-manifest";
constexpr size_t kAudioHeaderBytes = 46;
constexpr uint64_t kLargestManifest = uint64_t{256} << 20;
constexpr int kDeepestNesting = 6;
// Not-exact reasons listed one by one before the rest are counted.
constexpr size_t kListedReasons = 8;

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool HasAudioTags(const uint8_t* head) {
    return std::memcmp(head, "PW10", 4) == 0 && std::memcmp(head + 8, "PCM1", 4) == 0 &&
           std::memcmp(head + 12, "fmt ", 4) == 0 && std::memcmp(head + 38, "data", 4) == 0;
}

bool IsArchiveSignature(const uint8_t* header) {
    for (const char* known : {"ZRV00", "ZRV01", "ZRV03"})
        if (std::memcmp(header, known, 5) == 0) return header[5] == 0x1A && header[6] == 0x00;
    return false;
}

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

// ---- JSON reading, every value checked where it is taken ----

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
    throw ManifestError("the manifest is damaged: " + where + " " + what);
}

const json& Member(const json& object, const char* key, const std::string& where) {
    auto found = object.find(key);
    if (found == object.end()) Bad(where, std::string("lacks \"") + key + "\"");
    return *found;
}

const json* OptionalMember(const json& object, const char* key) {
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

void RequireObject(const json& value, const std::string& where, std::initializer_list<const char*> keys) {
    if (!value.is_object()) Bad(where, "is not an object");
    for (auto it = value.begin(); it != value.end(); ++it) {
        bool known = false;
        for (const char* key : keys) known = known || it.key() == key;
        if (!known) Bad(where, "has an unknown member \"" + it.key() + "\"");
    }
}

uint64_t Unsigned(const json& value, const std::string& where, uint64_t most) {
    if (!value.is_number_unsigned()) Bad(where, "is not a whole number of 0 or more");
    uint64_t number = value.get<uint64_t>();
    if (number > most) Bad(where, "is " + std::to_string(number) + ", more than " + std::to_string(most));
    return number;
}

std::string Text(const json& value, const std::string& where, size_t longest) {
    if (!value.is_string()) Bad(where, "is not text");
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > longest) Bad(where, "is longer than " + std::to_string(longest) + " bytes");
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<uint8_t> Hex(const json& value, const std::string& where, uint64_t mostBytes) {
    if (!value.is_string()) Bad(where, "is not text");
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > 2 * mostBytes) Bad(where, "holds more than " + std::to_string(mostBytes) + " bytes");
    if (text.size() % 2 != 0) Bad(where, "has an odd number of hexadecimal digits");
    std::vector<uint8_t> bytes(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) Bad(where, "holds something other than hexadecimal digits");
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bytes;
}

std::vector<uint8_t> HexOfLength(const json& value, const std::string& where, size_t length) {
    std::vector<uint8_t> bytes = Hex(value, where, length);
    if (bytes.size() != length) Bad(where, "must hold exactly " + std::to_string(length) + " bytes");
    return bytes;
}

WrittenFile ReadWrittenFile(const json& value, const std::string& where, bool withForm, WrittenForm* form) {
    if (withForm)
        RequireObject(value, where, {"path", "size", "sha256", "holds"});
    else
        RequireObject(value, where, {"path", "size", "sha256"});
    WrittenFile file;
    file.path = Text(Member(value, "path", where), where + ".path", 4096);
    if (!IsSafeRelativePath(file.path) || file.path == kManifestFileName)
        Bad(where + ".path", "'" + file.path + "' is not a plain relative path inside the folder");
    file.size = Unsigned(Member(value, "size", where), where + ".size", uint64_t{1} << 53);
    std::vector<uint8_t> digest = HexOfLength(Member(value, "sha256", where), where + ".sha256", 32);
    file.sha256 = HexString(digest.data(), digest.size());
    if (withForm) {
        std::string holds = Text(Member(value, "holds", where), where + ".holds", 16);
        if (holds == "stored")
            *form = WrittenForm::Stored;
        else if (holds == "wave")
            *form = WrittenForm::Wave;
        else
            Bad(where + ".holds", "is neither \"stored\" nor \"wave\"");
    }
    return file;
}

EntryKind ParseKind(const std::string& text, const std::string& where) {
    if (text == "file") return EntryKind::File;
    if (text == "picture") return EntryKind::Picture;
    if (text == "audio") return EntryKind::Audio;
    Bad(where, "is not one of \"file\", \"picture\", \"audio\"");
}

ManifestEntry ReadEntry(const json& value, const std::string& where, uint64_t* carried) {
    RequireObject(value, where, {"name", "field", "size", "kind", "file", "audio", "picture"});
    ManifestEntry entry;
    std::vector<uint8_t> field = HexOfLength(Member(value, "field", where), where + ".field", kNameFieldBytes);
    std::memcpy(entry.nameField.data(), field.data(), kNameFieldBytes);
    entry.name = Text(Member(value, "name", where), where + ".name", 256);
    entry.storedSize = static_cast<uint32_t>(Unsigned(Member(value, "size", where), where + ".size", 0xFFFFFFFFu));
    entry.kind = ParseKind(Text(Member(value, "kind", where), where + ".kind", 16), where + ".kind");
    if (const json* file = OptionalMember(value, "file"))
        entry.file = ReadWrittenFile(*file, where + ".file", true, &entry.form);

    const json* audio = OptionalMember(value, "audio");
    if ((entry.kind == EntryKind::Audio) != (audio != nullptr))
        Bad(where, entry.kind == EntryKind::Audio ? "is coded audio without its \"audio\" facts"
                                                  : "has \"audio\" facts but is not coded audio");
    if (audio) {
        RequireObject(*audio, where + ".audio", {"header", "trailing"});
        entry.audioHeader = HexOfLength(Member(*audio, "header", where), where + ".audio.header", kAudioHeaderBytes);
        if (!HasAudioTags(entry.audioHeader.data())) Bad(where + ".audio.header", "is not a coded-audio header");
        entry.audioTrailing = Hex(Member(*audio, "trailing", where), where + ".audio.trailing", kMostCarriedBytes);
        *carried += entry.audioTrailing.size();
    }
    if (entry.form == WrittenForm::Wave && entry.kind != EntryKind::Audio)
        Bad(where + ".file.holds", "says \"wave\" for an entry that is not coded audio");
    if (entry.file) {
        uint64_t expected = entry.form == WrittenForm::Wave ? WaveSizeOf(entry.audioHeader) : entry.storedSize;
        if (entry.file->size != expected)
            Bad(where + ".file.size", "is " + std::to_string(entry.file->size) + " where the entry gives " +
                                          std::to_string(expected));
    }

    if (const json* picture = OptionalMember(value, "picture")) {
        if (entry.kind != EntryKind::Picture) Bad(where, "has \"picture\" facts but is not a packed picture");
        RequireObject(*picture, where + ".picture", {"signature", "bitCount", "png"});
        if (const json* signature = OptionalMember(*picture, "signature")) {
            entry.pictureSignature = Text(*signature, where + ".picture.signature", 2);
            if (entry.pictureSignature != "B1" && entry.pictureSignature != "E1")
                Bad(where + ".picture.signature", "is neither \"B1\" nor \"E1\"");
        }
        if (const json* bits = OptionalMember(*picture, "bitCount"))
            entry.pictureBitCount = static_cast<uint16_t>(Unsigned(*bits, where + ".picture.bitCount", 32));
        if (const json* png = OptionalMember(*picture, "png"))
            entry.converted = ReadWrittenFile(*png, where + ".picture.png", false, nullptr);
    }
    return entry;
}

std::string FoldCase(const std::string& text) {
    std::string folded = text;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// The checks that span entries: paths unique, the layout adds up.
void CheckWhole(const Manifest& manifest, uint64_t carried) {
    if (carried > kMostCarriedBytes) Bad("the manifest", "carries more bytes than a manifest may");
    if (!IsArchiveSignature(manifest.header.data())) Bad("archive.header", "does not start with an archive's signature");
    if (Le16(manifest.header.data() + 8) != manifest.entries.size())
        Bad("archive.header", "counts " + std::to_string(Le16(manifest.header.data() + 8)) + " entries, the list holds " +
                                  std::to_string(manifest.entries.size()));
    std::set<std::string> paths;
    for (size_t i = 0; i < manifest.entries.size(); ++i) {
        const ManifestEntry& entry = manifest.entries[i];
        // Trailing bytes too many to carry leave an audio entry short; the
        // archive is then marked not exact.
        if (entry.kind == EntryKind::Audio && manifest.notExact.empty() &&
            kAudioHeaderBytes + uint64_t{Le32(entry.audioHeader.data() + 42)} + entry.audioTrailing.size() !=
                entry.storedSize)
            Bad("entries[" + std::to_string(i) + "]", "has a stored size that is not its header, codes and trailing bytes");
        for (const std::optional<WrittenFile>* file : {&entry.file, &entry.converted})
            if (*file && !paths.insert(FoldCase((*file)->path)).second)
                Bad("entries[" + std::to_string(i) + "]", "names the file '" + (*file)->path + "' a second time");
    }
    if (!manifest.notExact.empty()) return;
    uint64_t dataEnd = kArchiveHeaderBytes;
    for (const ManifestEntry& entry : manifest.entries) dataEnd += entry.storedSize;
    const uint64_t directoryOffset = Le32(manifest.header.data() + 10);
    if (directoryOffset != dataEnd + manifest.gap.size() ||
        manifest.archiveSize != directoryOffset + kDirectoryEntryBytes * manifest.entries.size() + manifest.tail.size())
        Bad("archive", "has a layout that does not add up: its sizes, gap, directory and tail disagree");
}

// ---- JSON writing ----

json WrittenFileJson(const WrittenFile& file, const char* holds) {
    json value = {{"path", file.path}, {"size", file.size}, {"sha256", file.sha256}};
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
bool Carry(InputFile& file, uint64_t offset, uint64_t count, uint64_t* carried, std::vector<uint8_t>* bytes) {
    if (*carried + count > kMostCarriedBytes) return false;
    *carried += count;
    bytes->resize(static_cast<size_t>(count));
    file.ReadAt(offset, bytes->data(), bytes->size());
    return true;
}

void DescribeEntry(InputFile& file, uint64_t offset, ManifestEntry& entry, uint64_t* carried,
                   ReasonList& tooMuch) {
    uint8_t head[kAudioHeaderBytes] = {};
    const size_t headSize = entry.storedSize < kAudioHeaderBytes ? entry.storedSize : kAudioHeaderBytes;
    file.ReadAt(offset, head, headSize);
    const uint64_t codes = headSize == kAudioHeaderBytes ? Le32(head + 42) : 0;
    // The archive plug-in's rule: whole header, all codes stored, WAVE length below 4 GiB.
    if (headSize == kAudioHeaderBytes && HasAudioTags(head) && codes <= entry.storedSize - kAudioHeaderBytes &&
        codes <= (0xFFFFFFFFull - kAudioHeaderBytes) / 2) {
        entry.kind = EntryKind::Audio;
        entry.form = WrittenForm::Wave;
        entry.audioHeader.assign(head, head + kAudioHeaderBytes);
        const uint64_t trailingAt = kAudioHeaderBytes + codes;
        if (!Carry(file, offset + trailingAt, entry.storedSize - trailingAt, carried, &entry.audioTrailing))
            tooMuch.Add("the bytes after the codes of " + Shown(entry.nameField));
    } else if (LooksLikePackedPicture(head, headSize)) {
        entry.kind = EntryKind::Picture;
        entry.pictureSignature = head[0] == 'B' ? "B1" : "E1";
    }
}

}  // namespace

const char* KindName(EntryKind kind) {
    switch (kind) {
    case EntryKind::Picture:
        return "picture";
    case EntryKind::Audio:
        return "audio";
    default:
        return "file";
    }
}

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
    return kAudioHeaderBytes + 2 * uint64_t{Le32(audioHeader.data() + 42)};
}

Manifest DescribeArchive(const fs::path& path) {
    InputFile file(path);
    const std::string who = "'" + path.u8string() + "'";
    Manifest manifest;
    manifest.archiveName = path.filename().u8string();
    manifest.archiveSize = file.size();
    if (file.size() < kArchiveHeaderBytes) throw WriteError(who + " is too short to be an archive");
    file.ReadAt(0, manifest.header.data(), kArchiveHeaderBytes);
    const uint32_t count = Le16(manifest.header.data() + 8);
    const uint64_t directoryOffset = Le32(manifest.header.data() + 10);
    const uint64_t directoryEnd = directoryOffset + uint64_t{kDirectoryEntryBytes} * count;
    if (!IsArchiveSignature(manifest.header.data()) || directoryEnd > file.size())
        throw WriteError(who + " is not a ZORVAN archive");

    std::vector<uint8_t> directory(kDirectoryEntryBytes * count);
    file.ReadAt(directoryOffset, directory.data(), directory.size());
    uint64_t dataEnd = kArchiveHeaderBytes;
    manifest.entries.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        ManifestEntry& entry = manifest.entries[i];
        std::memcpy(entry.nameField.data(), directory.data() + kDirectoryEntryBytes * i, kNameFieldBytes);
        entry.storedSize = Le32(directory.data() + kDirectoryEntryBytes * i + kNameFieldBytes);
        entry.name = NameFromField(entry.nameField);
        dataEnd += entry.storedSize;
    }

    uint64_t carried = 0;
    ReasonList pastTheEnd("entries that reach past the end of the file cannot be extracted");
    ReasonList tooMuch("too many bytes to carry in the manifest");
    uint64_t offset = kArchiveHeaderBytes;
    for (ManifestEntry& entry : manifest.entries) {
        if (offset + entry.storedSize > file.size())
            pastTheEnd.Add(Shown(entry.nameField));
        else
            DescribeEntry(file, offset, entry, &carried, tooMuch);
        offset += entry.storedSize;
    }

    if (dataEnd > 0xFFFFFFFFull)
        manifest.notExact.push_back("the entries' sizes add up past 4 GiB, where positions wrap around");
    if (directoryOffset < dataEnd) {
        manifest.notExact.push_back("the directory (at offset " + std::to_string(directoryOffset) +
                                    ") lies inside the entries' data, which ends at " + std::to_string(dataEnd) +
                                    "; a rebuild puts it behind the data");
    } else {
        if (!Carry(file, dataEnd, directoryOffset - dataEnd, &carried, &manifest.gap))
            tooMuch.Add("the bytes between the data and the directory");
        if (!Carry(file, directoryEnd, file.size() - directoryEnd, &carried, &manifest.tail))
            tooMuch.Add("the bytes after the directory");
    }
    pastTheEnd.MoveInto(manifest.notExact);
    tooMuch.MoveInto(manifest.notExact);
    return manifest;
}

std::string ManifestToJson(const Manifest& manifest) {
    json archive = {{"name", manifest.archiveName},
                    {"size", manifest.archiveSize},
                    {"header", HexString(manifest.header.data(), manifest.header.size())},
                    {"gap", HexString(manifest.gap.data(), manifest.gap.size())},
                    {"tail", HexString(manifest.tail.data(), manifest.tail.size())},
                    {"notExact", manifest.notExact}};
    // One entry a line: readable, and a changed entry is one changed line.
    std::string text = "{\n \"format\": \"" + std::string(kFormatName) +
                       "\",\n \"version\": " + std::to_string(kManifestVersion) + ",\n \"archive\": " + Dump(archive) +
                       ",\n \"entries\": [";
    for (size_t i = 0; i < manifest.entries.size(); ++i)
        text += (i == 0 ? "\n  " : ",\n  ") + Dump(EntryJson(manifest.entries[i]));
    text += manifest.entries.empty() ? "]\n}\n" : "\n ]\n}\n";
    return text;
}

Manifest ManifestFromJson(const uint8_t* data, size_t size) {
    json root;
    try {
        auto limitDepth = [](int depth, json::parse_event_t, json&) {
            if (depth > kDeepestNesting) throw ManifestError("the manifest is damaged: it nests too deeply");
            return true;
        };
        root = json::parse(data, data + size, limitDepth);
    } catch (const json::exception& error) {
        throw ManifestError(std::string("the manifest is not valid JSON: ") + error.what());
    }
    RequireObject(root, "the manifest", {"format", "version", "archive", "entries"});
    if (Text(Member(root, "format", "the manifest"), "format", 64) != kFormatName)
        Bad("format", "is not \"" + std::string(kFormatName) + "\"");
    const uint64_t version = Unsigned(Member(root, "version", "the manifest"), "version", 1u << 30);
    if (version != kManifestVersion)
        throw ManifestError("the manifest has version " + std::to_string(version) + "; this zorv reads version " +
                            std::to_string(kManifestVersion));

    Manifest manifest;
    const json& archive = Member(root, "archive", "the manifest");
    RequireObject(archive, "archive", {"name", "size", "header", "gap", "tail", "notExact"});
    manifest.archiveName = Text(Member(archive, "name", "archive"), "archive.name", 4096);
    manifest.archiveSize = Unsigned(Member(archive, "size", "archive"), "archive.size", uint64_t{1} << 53);
    std::vector<uint8_t> header = HexOfLength(Member(archive, "header", "archive"), "archive.header", kArchiveHeaderBytes);
    std::memcpy(manifest.header.data(), header.data(), header.size());
    manifest.gap = Hex(Member(archive, "gap", "archive"), "archive.gap", kMostCarriedBytes);
    manifest.tail = Hex(Member(archive, "tail", "archive"), "archive.tail", kMostCarriedBytes);
    uint64_t carried = manifest.gap.size() + manifest.tail.size();
    const json& notExact = Member(archive, "notExact", "archive");
    if (!notExact.is_array() || notExact.size() > 64) Bad("archive.notExact", "is not a short list");
    for (const json& reason : notExact) manifest.notExact.push_back(Text(reason, "archive.notExact", 4096));

    const json& entries = Member(root, "entries", "the manifest");
    if (!entries.is_array()) Bad("entries", "is not a list");
    if (entries.size() > kMostArchiveEntries) Bad("entries", "holds more than 65,535 entries");
    manifest.entries.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        manifest.entries.push_back(ReadEntry(entries[i], "entries[" + std::to_string(i) + "]", &carried));
    CheckWhole(manifest, carried);
    return manifest;
}

Manifest ReadManifestFile(const fs::path& file) {
    std::vector<uint8_t> bytes = ReadWholeFile(file, kLargestManifest);
    try {
        return ManifestFromJson(bytes.data(), bytes.size());
    } catch (const ManifestError& error) {
        throw ManifestError("'" + file.u8string() + "': " + error.what());
    }
}

void WriteManifestFile(const fs::path& folder, const Manifest& manifest) {
    const std::string text = ManifestToJson(manifest);
    AtomicFile file(folder / kManifestFileName);
    file.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    file.Commit(true);
}

}  // namespace writer
