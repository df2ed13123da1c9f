// Reading the manifest strictly, from the JSON parser's events: a manifest
// of 65,535 entries is read without first building a document of it (that
// took longer than the rest of a rebuild). Every value is checked where it
// arrives, every object when it ends, and the whole manifest at the end.
#include <nlohmann/json.hpp>

#include <algorithm>

#include "manifest.h"
#include "path_case.h"
#include "content_hash.h"
#include "zorvan_format.h"

namespace writer {

namespace {

// Digests are compared as HexString writes them.
std::string HexInLowerCase(std::string hex) {
    for (char& c : hex)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return hex;
}

using json = nlohmann::json;

constexpr size_t kMostReasons = 64;

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
    throw files::ToolError("the manifest is damaged: " + where + " " + what);
}

enum class Place { Root, Archive, NotExact, Entries, Entry, File, Audio, Picture, Png };
enum class Type { Text, Number, Object, List };

struct Member {
    const char* key;
    Type type;
    bool required;
};

// The members each object may have; their order numbers the bits of Frame::seen.
const std::vector<Member>& MembersOf(Place place) {
    static const std::vector<Member> kRoot = {
        {"format", Type::Text, true}, {"version", Type::Number, true},
        {"archive", Type::Object, true}, {"entries", Type::List, true}};
    static const std::vector<Member> kArchive = {
        {"name", Type::Text, true}, {"size", Type::Number, true}, {"header", Type::Text, true},
        {"gap", Type::Text, true}, {"tail", Type::Text, true}, {"notExact", Type::List, true}};
    static const std::vector<Member> kEntry = {
        {"name", Type::Text, true}, {"field", Type::Text, true}, {"size", Type::Number, true},
        {"kind", Type::Text, true}, {"file", Type::Object, false}, {"audio", Type::Object, false},
        {"picture", Type::Object, false}};
    static const std::vector<Member> kFile = {
        {"path", Type::Text, true}, {"size", Type::Number, true}, {"xxh64", Type::Text, true},
        {"holds", Type::Text, true}};
    static const std::vector<Member> kPng = {
        {"path", Type::Text, true}, {"size", Type::Number, true}, {"xxh64", Type::Text, true}};
    static const std::vector<Member> kAudio = {{"header", Type::Text, true}, {"trailing", Type::Text, true}};
    static const std::vector<Member> kPicture = {
        {"signature", Type::Text, false}, {"bitCount", Type::Number, false}, {"png", Type::Object, false}};
    static const std::vector<Member> kNone;
    switch (place) {
    case Place::Root: return kRoot;
    case Place::Archive: return kArchive;
    case Place::Entry: return kEntry;
    case Place::File: return kFile;
    case Place::Png: return kPng;
    case Place::Audio: return kAudio;
    case Place::Picture: return kPicture;
    default: return kNone;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hexadecimal text into `out` (sized by the caller). `where` names the
// value, built only for a message.
template <class Where>
void DecodeHex(const std::string& text, uint8_t* out, size_t size, const Where& where) {
    if (text.size() % 2 != 0) Bad(where(), "has an odd number of hexadecimal digits");
    for (size_t i = 0; i < size; ++i) {
        int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) Bad(where(), "holds something other than hexadecimal digits");
        out[i] = static_cast<uint8_t>(high * 16 + low);
    }
}

template <class Where>
std::vector<uint8_t> Hex(const std::string& text, const Where& where, uint64_t mostBytes) {
    if (text.size() > 2 * mostBytes) Bad(where(), "holds more than " + std::to_string(mostBytes) + " bytes");
    std::vector<uint8_t> bytes(text.size() / 2);
    DecodeHex(text, bytes.data(), bytes.size(), where);
    return bytes;
}

template <class Where>
void HexOfLength(const std::string& text, const Where& where, uint8_t* out, size_t length) {
    if (text.size() > 2 * length) Bad(where(), "holds more than " + std::to_string(length) + " bytes");
    if (text.size() != 2 * length) Bad(where(), "must hold exactly " + std::to_string(length) + " bytes");
    DecodeHex(text, out, length, where);
}

struct Frame {
    Place place;
    int member = -1;      // in an object: the member whose value comes next
    uint32_t seen = 0;    // in an object: the members met
    size_t elements = 0;  // in a list: the elements met
};

class Reader : public nlohmann::json_sax<json> {
public:
    Manifest manifest;

    bool null() override { return WrongType(); }
    bool boolean(bool) override { return WrongType(); }
    bool number_integer(number_integer_t) override { return WrongType(); }
    bool number_float(number_float_t, const string_t&) override { return WrongType(); }
    bool binary(binary_t&) override { return WrongType(); }
    bool number_unsigned(number_unsigned_t number) override {
        if (Expected() != Type::Number) return WrongType();
        OnNumber(number);
        return true;
    }
    bool string(string_t& text) override {
        if (Expected() != Type::Text) return WrongType();
        OnText(text);
        return true;
    }
    bool start_object(std::size_t) override {
        if (stack_.empty()) {
            stack_.push_back({Place::Root});
            return true;
        }
        if (Expected() != Type::Object) return WrongType();
        Enter(Inner());
        return true;
    }
    bool start_array(std::size_t) override {
        if (stack_.empty() || Expected() != Type::List) return WrongType();
        Enter(Inner());
        return true;
    }
    bool key(string_t& key) override {
        Frame& frame = stack_.back();
        const std::vector<Member>& members = MembersOf(frame.place);
        auto found = std::find_if(members.begin(), members.end(), [&](const Member& m) { return key == m.key; });
        if (found == members.end()) Bad(Where(stack_.size()), "has an unknown member \"" + key + "\"");
        frame.member = static_cast<int>(found - members.begin());
        if (frame.seen & (1u << frame.member)) Bad(Where(stack_.size()), "has \"" + key + "\" twice");
        frame.seen |= 1u << frame.member;
        return true;
    }
    bool end_object() override {
        const Frame& frame = stack_.back();
        const std::vector<Member>& members = MembersOf(frame.place);
        for (size_t i = 0; i < members.size(); ++i)
            if (members[i].required && !(frame.seen & (1u << i)))
                Bad(Where(stack_.size()), std::string("lacks \"") + members[i].key + "\"");
        Leave();
        return true;
    }
    bool end_array() override {
        Leave();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
        throw files::ToolError(std::string("the manifest is not valid JSON: ") + error.what());
    }

    void CheckWhole() const;

private:
    // The type the next value must have.
    Type Expected() const {
        if (stack_.empty()) return Type::Object;
        const Frame& frame = stack_.back();
        if (frame.place == Place::Entries) return Type::Object;
        if (frame.place == Place::NotExact) return Type::Text;
        return MembersOf(frame.place)[frame.member].type;
    }

    const char* CurrentKey() const { return MembersOf(stack_.back().place)[stack_.back().member].key; }

    // The place the object or list arriving now stands for.
    Place Inner() const {
        const Place outer = stack_.back().place;
        if (outer == Place::Entries) return Place::Entry;
        const std::string key = CurrentKey();
        if (outer == Place::Root) return key == "archive" ? Place::Archive : Place::Entries;
        if (outer == Place::Archive) return Place::NotExact;
        if (outer == Place::Picture) return Place::Png;
        return key == "file" ? Place::File : key == "audio" ? Place::Audio : Place::Picture;
    }

    // Where the value at depth `depth` stands, for messages: "entries[3].file".
    std::string Where(size_t depth) const {
        std::string where;
        for (size_t i = 1; i < depth; ++i) {
            const Frame& outer = stack_[i - 1];
            if (outer.place == Place::Entries || outer.place == Place::NotExact)
                where += "[" + std::to_string(outer.elements) + "]";
            else
                where += std::string(where.empty() ? "" : ".") + MembersOf(outer.place)[outer.member].key;
        }
        return where.empty() ? "the manifest" : where;
    }

    // Where the value arriving now stands.
    std::string ValueWhere() const {
        const Frame& frame = stack_.back();
        std::string where = Where(stack_.size());
        if (frame.place == Place::Entries || frame.place == Place::NotExact)
            return where + "[" + std::to_string(frame.elements) + "]";
        return (stack_.size() == 1 ? std::string() : where + ".") + MembersOf(frame.place)[frame.member].key;
    }

    bool WrongType() {
        if (stack_.empty()) Bad("the manifest", "is not an object");
        static const char* const kWanted[] = {"is not text", "is not a whole number of 0 or more",
                                              "is not an object", "is not a list"};
        Bad(ValueWhere(), kWanted[static_cast<int>(Expected())]);
    }

    void Enter(Place place) {
        if (place == Place::Entry) {
            if (stack_.back().elements == kMostArchiveEntries) Bad("entries", "holds more than 65,535 entries");
            entry_ = ManifestEntry();
            hasAudio_ = hasPicture_ = false;
        } else if (place == Place::Audio) {
            hasAudio_ = true;
        } else if (place == Place::Picture) {
            hasPicture_ = true;
        } else if (place == Place::File || place == Place::Png) {
            file_ = WrittenFile();
        }
        stack_.push_back({place});
    }

    void Leave() {
        const Place place = stack_.back().place;
        if (place == Place::Entry) FinishEntry();
        if (place == Place::File) entry_.file = std::move(file_);
        if (place == Place::Png) entry_.converted = std::move(file_);
        stack_.pop_back();
        if (!stack_.empty() && (stack_.back().place == Place::Entries || stack_.back().place == Place::NotExact))
            ++stack_.back().elements;
    }

    void Carry(size_t bytes) {
        carried_ += bytes;
        if (carried_ > kMostCarriedBytes) Bad("the manifest", "carries more bytes than a manifest may");
    }

    void OnNumber(uint64_t number) {
        const Frame& frame = stack_.back();
        auto most = [&](uint64_t limit) {
            if (number > limit)
                Bad(ValueWhere(), "is " + std::to_string(number) + ", more than " + std::to_string(limit));
            return number;
        };
        if (frame.place == Place::Root) {
            if (number != kManifestVersion)
                throw files::ToolError("the manifest has version " + std::to_string(number) +
                                       "; this zorv reads version " + std::to_string(kManifestVersion));
        } else if (frame.place == Place::Archive) {
            manifest.archiveSize = most(uint64_t{1} << 53);
        } else if (frame.place == Place::Entry) {
            entry_.storedSize = static_cast<uint32_t>(most(0xFFFFFFFFu));
        } else if (frame.place == Place::Picture) {
            entry_.pictureBitCount = static_cast<uint16_t>(most(32));
        } else {
            file_.size = most(uint64_t{1} << 53);
        }
    }

    void OnText(std::string& text) {
        Frame& frame = stack_.back();
        if (frame.place == Place::NotExact) {
            if (frame.elements == kMostReasons) Bad("archive.notExact", "is not a short list");
            manifest.notExact.push_back(Limited(std::move(text), 4096));
            ++frame.elements;
            return;
        }
        const std::string key = CurrentKey();
        auto where = [this] { return ValueWhere(); };
        switch (frame.place) {
        case Place::Root:
            if (text != kManifestFormat) Bad("format", "is not \"" + std::string(kManifestFormat) + "\"");
            break;
        case Place::Archive:
            if (key == "name") {
                manifest.archiveName = Limited(std::move(text), 4096);
            } else if (key == "header") {
                HexOfLength(text, where, manifest.header.data(), kArchiveHeaderSize);
            } else {
                std::vector<uint8_t>& bytes = key == "gap" ? manifest.gap : manifest.tail;
                bytes = Hex(text, where, kMostCarriedBytes);
                Carry(bytes.size());
            }
            break;
        case Place::Entry:
            OnEntryText(key, text);
            break;
        case Place::File:
        case Place::Png:
            OnFileText(key, text);
            break;
        case Place::Audio:
            if (key == "header") {
                entry_.audioHeader.resize(kPwHeaderSize);
                HexOfLength(text, where, entry_.audioHeader.data(), kPwHeaderSize);
                if (!IsPwAudio(entry_.audioHeader.data())) Bad(ValueWhere(), "is not a coded-audio header");
            } else {
                entry_.audioTrailing = Hex(text, where, kMostCarriedBytes);
                Carry(entry_.audioTrailing.size());
            }
            break;
        default:  // Place::Picture: the signature
            if (text != "B1" && text != "E1") Bad(ValueWhere(), "is neither \"B1\" nor \"E1\"");
            entry_.pictureSignature = text;
            break;
        }
    }

    void OnEntryText(const std::string& key, std::string& text) {
        if (key == "name") {
            entry_.name = Limited(std::move(text), 256);
        } else if (key == "field") {
            HexOfLength(text, [this] { return ValueWhere(); }, entry_.nameField.data(), kEntryNameLength);
        } else if (text == "file" || text == "picture" || text == "audio") {  // "kind"
            entry_.kind = text == "file" ? EntryKind::File : text == "picture" ? EntryKind::Picture : EntryKind::Audio;
        } else {
            Bad(ValueWhere(), "is not one of \"file\", \"picture\", \"audio\"");
        }
    }

    void OnFileText(const std::string& key, std::string& text) {
        if (key == "path") {
            if (text.size() > 4096 || !IsSafeRelativePath(text) || text == kManifestFileName)
                Bad(ValueWhere(), "'" + text + "' is not a plain relative path inside the folder");
            file_.path = std::move(text);
        } else if (key == "xxh64") {
            uint8_t digest[8];
            HexOfLength(text, [this] { return ValueWhere(); }, digest, sizeof digest);
            file_.hash = HexInLowerCase(std::move(text));  // as HexString writes it
        } else if (text == "stored" || text == "wave") {  // "holds"
            entry_.form = text == "wave" ? WrittenForm::Wave : WrittenForm::Stored;
        } else {
            Bad(ValueWhere(), "is neither \"stored\" nor \"wave\"");
        }
    }

    std::string Limited(std::string text, size_t longest) const {
        if (text.size() > longest) Bad(ValueWhere(), "is longer than " + std::to_string(longest) + " bytes");
        return text;
    }

    // What one entry's members must say together.
    void FinishEntry() {
        auto where = [this] { return Where(stack_.size()); };
        if ((entry_.kind == EntryKind::Audio) != hasAudio_)
            Bad(where(), hasAudio_ ? "has \"audio\" facts but is not coded audio"
                                 : "is coded audio without its \"audio\" facts");
        if (hasPicture_ && entry_.kind != EntryKind::Picture)
            Bad(where(), "has \"picture\" facts but is not a packed picture");
        if (entry_.form == WrittenForm::Wave && entry_.kind != EntryKind::Audio)
            Bad(where() + ".file.holds", "says \"wave\" for an entry that is not coded audio");
        if (entry_.file) {
            const uint64_t expected =
                entry_.form == WrittenForm::Wave ? WaveSizeOf(entry_.audioHeader) : entry_.storedSize;
            if (entry_.file->size != expected)
                Bad(where() + ".file.size",
                    "is " + std::to_string(entry_.file->size) + " where the entry gives " + std::to_string(expected));
        }
        manifest.entries.push_back(std::move(entry_));
    }

    std::vector<Frame> stack_;
    ManifestEntry entry_;
    WrittenFile file_;
    bool hasAudio_ = false;
    bool hasPicture_ = false;
    uint64_t carried_ = 0;
};

// The checks that span entries: the header agrees, paths are unique, the
// layout adds up.
void Reader::CheckWhole() const {
    if (!IsArchiveSignature(manifest.header.data()))
        Bad("archive.header", "does not start with an archive's signature");
    if (ReadLe16(manifest.header.data() + kEntryCountField) != manifest.entries.size())
        Bad("archive.header", "counts " + std::to_string(ReadLe16(manifest.header.data() + kEntryCountField)) +
                                  " entries, the list holds " + std::to_string(manifest.entries.size()));
    std::vector<std::pair<std::string, size_t>> paths;
    for (size_t i = 0; i < manifest.entries.size(); ++i) {
        const ManifestEntry& entry = manifest.entries[i];
        // Trailing bytes too many to carry leave an audio entry short; the
        // archive is then marked not exact.
        if (entry.kind == EntryKind::Audio && manifest.notExact.empty() &&
            kPwHeaderSize + uint64_t{PwCodeCount(entry.audioHeader.data())} +
                    entry.audioTrailing.size() != entry.storedSize)
            Bad("entries[" + std::to_string(i) + "]", "has a stored size that is not its header, codes and trailing bytes");
        for (const std::optional<WrittenFile>* file : {&entry.file, &entry.converted})
            if (*file) paths.emplace_back(files::FoldPathForFileSystem((*file)->path), i);
    }
    std::sort(paths.begin(), paths.end());
    for (size_t i = 1; i < paths.size(); ++i)
        if (paths[i].first == paths[i - 1].first)
            Bad("entries[" + std::to_string(std::max(paths[i].second, paths[i - 1].second)) + "]",
                "names the file '" + paths[i].first + "' a second time");
    if (!manifest.notExact.empty()) return;
    uint64_t dataEnd = kArchiveHeaderSize;
    for (const ManifestEntry& entry : manifest.entries) dataEnd += entry.storedSize;
    const uint64_t directoryOffset = ReadLe32(manifest.header.data() + kDirectoryOffsetField);
    if (directoryOffset != dataEnd + manifest.gap.size() ||
        manifest.archiveSize != directoryOffset + kDirectoryEntrySize * manifest.entries.size() + manifest.tail.size())
        Bad("archive", "has a layout that does not add up: its sizes, gap, directory and tail disagree");
}

}  // namespace

Manifest ManifestFromJson(const uint8_t* data, size_t size) {
    Reader reader;
    // The parser keeps its own stack, so deep nesting never reaches the call stack.
    json::sax_parse(data, data + size, &reader);
    reader.CheckWhole();
    return std::move(reader.manifest);
}

}  // namespace writer
