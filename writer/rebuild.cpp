#include "rebuild.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_map>

#include "byte_order.h"
#include "source_file.h"
#include "packed_picture.h"
#include "pw_encoder.h"
#include "content_hash.h"
#include "wave_file.h"

namespace writer {

namespace fs = std::filesystem;

namespace {

// Files up to this size are kept in memory from planning to writing, up to
// kMostKeptBytes in all; larger ones are read again while they are written.
constexpr uint64_t kKeptFileBytes = 64 * 1024;
constexpr uint64_t kMostKeptBytes = uint64_t{256} << 20;
// Pictures and WAVE files are encoded in memory.
constexpr uint64_t kLargestEncodedInput = uint64_t{1} << 30;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

bool IsHidden(const std::string& relative) {
    size_t slash = relative.rfind('/');
    return relative[slash == std::string::npos ? 0 : slash + 1] == '.';
}

// ---- Looking at the folder ----

struct Folder {
    fs::path root;
    std::vector<std::string> files;  // relative, '/' separated, sorted
    std::vector<char> claimed;       // per file: an entry's, not an added file
    std::set<std::string> links;     // symbolic links, never followed
    std::vector<std::string> ignored;

    // The index of a file, or -1.
    long Find(const std::string& path) const {
        auto found = std::lower_bound(files.begin(), files.end(), path);
        return found != files.end() && *found == path ? found - files.begin() : -1;
    }
    // A file whose path equals `path` but for letter case, or -1.
    long FindFolded(const std::string& path) {
        if (byFolded_.empty())
            for (size_t i = 0; i < files.size(); ++i) byFolded_.emplace(FoldCase(files[i]), static_cast<long>(i));
        auto found = byFolded_.find(FoldCase(path));
        return found == byFolded_.end() ? -1 : found->second;
    }
    // True when `path` or a folder above it is a symbolic link.
    bool ThroughLink(const std::string& path) const {
        if (links.empty()) return false;
        for (size_t slash = path.find('/'); ; slash = path.find('/', slash + 1)) {
            if (links.count(path.substr(0, slash))) return true;
            if (slash == std::string::npos) return false;
        }
    }

private:
    std::unordered_map<std::string, long> byFolded_;
};

// `output` relative to `root` when it lies inside it, else empty.
std::string Inside(const fs::path& root, const fs::path& output) {
    if (output.empty()) return {};
    std::error_code error;
    const fs::path relative = fs::weakly_canonical(output, error).lexically_relative(fs::weakly_canonical(root, error));
    const std::string text = relative.generic_u8string();
    return error || text.empty() || text.rfind("..", 0) == 0 ? std::string() : text;
}

// Every regular file under `root`, but for the manifest at its top and the
// archive being written.
Folder ScanFolder(const fs::path& root, const fs::path& output) {
    const std::string written = Inside(root, output);
    Folder folder;
    folder.root = root;
    std::string prefix = root.generic_u8string();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error), end;
    if (error) throw WriteError("cannot read the folder " + Quoted(root.u8string()) + ": " + error.message());
    for (; it != end; it.increment(error)) {
        if (error) throw WriteError("cannot read the folder " + Quoted(root.u8string()) + ": " + error.message());
        const std::string relative = it->path().generic_u8string().substr(prefix.size());
        if (it->is_symlink(error)) {
            folder.links.insert(relative);
            folder.ignored.push_back(Quoted(relative) + ": a symbolic link, never followed");
        } else if (it->is_directory(error)) {
            continue;
        } else if (!it->is_regular_file(error)) {
            folder.ignored.push_back(Quoted(relative) + ": not a regular file");
        } else if (relative == written) {
            folder.ignored.push_back(Quoted(relative) + ": the archive being written");
        } else if (relative != kManifestFileName) {
            folder.files.push_back(relative);
        }
    }
    std::sort(folder.files.begin(), folder.files.end());
    folder.claimed.assign(folder.files.size(), 0);
    return folder;
}

// Hashes the bytes written to it, passing them on to `inner` if there is one.
class HashingSink : public ByteSink {
public:
    explicit HashingSink(ByteSink* inner = nullptr) : inner_(inner) {}
    void Write(const uint8_t* data, size_t size) override {
        hash_.Update(data, size);
        if (inner_) inner_->Write(data, size);
    }
    std::string Hex() const { return hash_.FinishHex(); }

private:
    ByteSink* inner_;
    ContentHash hash_;
};

// A file's size and, when asked, its digest; small files are kept.
struct FileLook {
    uint64_t size = 0;
    std::string hash;
    std::shared_ptr<const std::vector<uint8_t>> content;
};

class FileLooker {
public:
    explicit FileLooker(const BuildOptions& options) : options_(options) {}

    FileLook Look(const std::string& path, bool hash) {
        SourceFile file(path);
        FileLook look;
        look.size = file.size();
        if (options_.onProgress) options_.onProgress(path, look.size);
        if (look.size <= kKeptFileBytes && kept_ + look.size <= kMostKeptBytes) {
            auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(look.size));
            file.ReadAt(0, bytes->data(), bytes->size());
            kept_ += look.size;
            if (hash) look.hash = ContentHashHex(bytes->data(), bytes->size());
            look.content = std::move(bytes);
        } else if (hash) {
            HashingSink digest;
            file.CopyTo(digest, 0, look.size);
            look.hash = digest.Hex();
        }
        return look;
    }

private:
    const BuildOptions& options_;
    uint64_t kept_ = 0;
};

// The first bytes of a file, from what was kept or from the disk.
std::vector<uint8_t> Head(const std::string& path, const FileLook& look, size_t count) {
    count = static_cast<size_t>(std::min<uint64_t>(count, look.size));
    if (look.content) return std::vector<uint8_t>(look.content->begin(), look.content->begin() + count);
    std::vector<uint8_t> head(count);
    SourceFile(path).ReadAt(0, head.data(), count);
    return head;
}

bool Unchanged(const FileLook& look, const WrittenFile& written) {
    return look.size == written.size && look.hash == written.hash;
}

// ---- Planning ----

class Planner {
public:
    Planner(const fs::path& root, const NameEncoder& encodeName, const BuildOptions& options)
        : root_(root.empty() ? std::string() : root.u8string() + "/"),
          encodeName_(encodeName),
          options_(options),
          looker_(options) {}

    void PlanEntries(const Manifest& manifest, Folder& folder, RebuildPlan& plan);
    void PlanAdded(const Folder& folder, RebuildPlan& plan);
    PlanItem NewFileItem(const std::string& source, const std::string& shown, const std::string& entryName);
    void CheckNamesAndCount(const RebuildPlan& plan) const;

private:
    PlanItem PlanEntry(const ManifestEntry& entry, Folder& folder);
    void PlanPicture(const ManifestEntry& entry, Folder& folder, PlanItem& item, const std::optional<FileLook>& look);
    void PlanReplacement(const ManifestEntry& entry, PlanItem& item, const FileLook& look);
    std::optional<FileLook> LookIfPresent(const Folder& folder, const std::string& path);

    std::string root_;  // the folder's UTF-8 path and a '/', to put before relative paths
    const NameEncoder& encodeName_;
    const BuildOptions& options_;
    FileLooker looker_;
};

std::optional<FileLook> Planner::LookIfPresent(const Folder& folder, const std::string& path) {
    if (folder.ThroughLink(path))
        throw WriteError(Quoted(path) + " is, or lies in, a symbolic link; a rebuild never follows one");
    if (folder.Find(path) < 0) return std::nullopt;
    return looker_.Look(root_ + path, true);
}

void Planner::PlanEntries(const Manifest& manifest, Folder& folder, RebuildPlan& plan) {
    for (const ManifestEntry& entry : manifest.entries) {
        for (const std::optional<WrittenFile>* file : {&entry.file, &entry.converted}) {
            long index = *file ? folder.Find((*file)->path) : -1;
            if (index >= 0) folder.claimed[index] = 1;
        }
    }
    plan.items.reserve(manifest.entries.size());
    for (const ManifestEntry& entry : manifest.entries) plan.items.push_back(PlanEntry(entry, folder));
    PlanAdded(folder, plan);
}

PlanItem Planner::PlanEntry(const ManifestEntry& entry, Folder& folder) {
    PlanItem item;
    item.name = entry.name;
    item.nameField = entry.nameField;
    item.original = &entry;
    if (!entry.file) {
        item.action = PlanAction::Remove;
        item.reason = "left out: it was not extracted";
        return item;
    }
    item.file = entry.file->path;
    item.source = root_ + entry.file->path;
    std::optional<FileLook> look = LookIfPresent(folder, entry.file->path);
    if (look) {
        item.fileSize = look->size;
        item.content = look->content;
    }
    if (entry.kind == EntryKind::Picture) {
        PlanPicture(entry, folder, item, look);
    } else if (!look) {
        item.action = PlanAction::Remove;
        item.reason = "left out: its file " + Quoted(entry.file->path) + " is gone";
    } else if (Unchanged(*look, *entry.file)) {
        item.making = Making::Original;
        item.reason = "unchanged";
    } else {
        PlanReplacement(entry, item, *look);
    }
    return item;
}

void Planner::PlanPicture(const ManifestEntry& entry, Folder& folder, PlanItem& item,
                          const std::optional<FileLook>& look) {
    // A PNG of the picture: the one extraction wrote beside it, or one a
    // user saved there (its name with .png in place of its extension, or added).
    std::string png;
    bool pngChanged = false;
    if (entry.converted) {
        std::optional<FileLook> pngLook = LookIfPresent(folder, entry.converted->path);
        png = entry.converted->path;
        pngChanged = pngLook && !Unchanged(*pngLook, *entry.converted);
    } else {
        const std::string& path = entry.file->path;
        const size_t dot = path.rfind('.');
        const bool hasExtension = dot != std::string::npos && path.find('/', dot) == std::string::npos;
        for (const std::string& candidate : {(hasExtension ? path.substr(0, dot) : path) + ".png", path + ".png"}) {
            const long found = folder.FindFolded(candidate);
            if (found >= 0 && !folder.claimed[found]) {
                png = folder.files[found];
                pngChanged = true;
                folder.claimed[found] = 1;
                break;
            }
        }
    }
    const bool fileChanged = look && !Unchanged(*look, *entry.file);
    if (pngChanged && fileChanged)
        throw WriteError("both " + Quoted(entry.file->path) + " and " + Quoted(png) + " changed; the entry " +
                         Quoted(entry.name) + " can come from one of them only: restore the other");
    if (pngChanged) {
        item.action = PlanAction::Change;
        item.making = Making::PackPicture;
        item.file = png;
        item.source = root_ + png;
        item.content = nullptr;
        item.fileSize = 0;
        item.reason = "packed from " + Quoted(png);
    } else if (!look) {
        item.action = PlanAction::Remove;
        item.reason = "left out: its file " + Quoted(entry.file->path) + " is gone";
    } else if (!fileChanged) {
        item.making = Making::Original;
        item.reason = "unchanged";
    } else {
        PlanReplacement(entry, item, *look);
    }
}

// A changed file, encoded as its entry was.
void Planner::PlanReplacement(const ManifestEntry& entry, PlanItem& item, const FileLook& look) {
    item.action = PlanAction::Change;
    const std::vector<uint8_t> head = Head(item.source, look, 16);
    const bool isWave = LooksLikeWave(head.data(), head.size());
    const bool isCoded = head.size() >= 4 && std::memcmp(head.data(), "PW10", 4) == 0;
    if (entry.kind == EntryKind::Picture) {
        if (LooksLikePackedPicture(head.data(), head.size())) {
            item.making = Making::AsIs;
            item.reason = "changed: stored as the packed picture it is";
        } else if (LooksLikePng(head.data(), head.size()) || LooksLikePlainBitmap(head.data(), head.size())) {
            item.making = Making::PackPicture;
            item.reason = LooksLikePng(head.data(), head.size()) ? "changed: packed from the PNG it now holds"
                                                                 : "changed: packed from the plain bitmap file";
        } else {
            throw WriteError(Quoted(entry.file->path) + " held a packed picture, and now holds neither a packed "
                             "picture, a PNG nor a bitmap file");
        }
    } else if (entry.kind == EntryKind::Audio && isWave) {
        item.making = Making::EncodeAudio;
        item.reason = "changed: coded from the WAVE, with the original header's other fields";
    } else if (entry.kind == EntryKind::Audio && entry.form == WrittenForm::Wave && !isCoded) {
        throw WriteError(Quoted(entry.file->path) + " held coded audio as WAVE, and now holds neither a WAVE "
                         "file nor coded audio");
    } else {
        item.making = Making::AsIs;
        item.reason = "changed: stored as it is";
    }
}

PlanItem Planner::NewFileItem(const std::string& source, const std::string& shown, const std::string& entryName) {
    PlanItem item;
    item.action = PlanAction::Add;
    item.file = shown;
    item.source = source;
    item.name = entryName;
    std::optional<std::string> raw = encodeName_(entryName);
    if (!raw)
        throw WriteError("the name " + Quoted(entryName) + (shown == entryName ? "" : " (of " + Quoted(shown) + ")") +
                         " cannot be written in the archive's code page");
    item.nameField = MakeNameField(*raw, entryName);
    FileLook look = looker_.Look(source, false);
    item.fileSize = look.size;
    item.content = look.content;
    if (look.size > 0xFFFFFFFFull) throw WriteError(Quoted(shown) + " is larger than an entry may be (4 GiB)");
    item.making = Making::AsIs;
    item.reason = "added: stored as it is";
    if (options_.encodeAudio) {  // only then is a large file's head read
        const std::vector<uint8_t> head = Head(source, look, 12);
        if (LooksLikeWave(head.data(), head.size())) {
            item.making = Making::EncodeAudio;
            item.reason = "added: coded from the WAVE";
        }
    }
    return item;
}

void Planner::PlanAdded(const Folder& folder, RebuildPlan& plan) {
    for (size_t i = 0; i < folder.files.size(); ++i) {
        const std::string& path = folder.files[i];
        if (folder.claimed[i]) continue;
        if (IsHidden(path)) {
            plan.ignored.push_back(Quoted(path) + ": a hidden file");
            continue;
        }
        std::string name = path;
        std::replace(name.begin(), name.end(), '/', '\\');
        plan.items.push_back(NewFileItem(root_ + path, path, name));
    }
}

// Names of new entries must be free: the archive plug-in finds the first
// of two equal names only, ignoring letter case when asked to.
void Planner::CheckNamesAndCount(const RebuildPlan& plan) const {
    const size_t written = plan.items.size() - plan.Count(PlanAction::Remove);
    if (written > kMostArchiveEntries)
        throw WriteError("an archive holds at most 65,535 entries; this one would hold " + std::to_string(written));
    if (plan.Count(PlanAction::Add) == 0) return;  // the manifest's own names stand as they were
    std::unordered_map<std::string, const PlanItem*> taken;
    for (const PlanItem& item : plan.items) {
        if (item.action == PlanAction::Remove) continue;
        auto inserted = taken.emplace(FoldCase(NameFromField(item.nameField)), &item);
        if (!inserted.second && item.action == PlanAction::Add)
            throw WriteError("the name " + Quoted(item.name) + " (of " + Quoted(item.file) + ") is taken by " +
                             Quoted(inserted.first->second->name) + " (of " + Quoted(inserted.first->second->file) +
                             ")");
    }
}

ArchiveLayout LayoutOf(const Manifest& manifest) {
    ArchiveLayout layout;
    std::memcpy(layout.signature.data(), manifest.header.data(), 8);
    std::memcpy(layout.reserved.data(), manifest.header.data() + 14, 2);
    layout.gap = manifest.gap;
    layout.tail = manifest.tail;
    return layout;
}

// ---- Building ----

// The samples of an unchanged WAVE back into codes: each is a table value,
// so each gives its own code back. The WAVE's header, as long as the coded
// one, is skipped: the original header is written instead.
class CodingSink : public ByteSink {
public:
    explicit CodingSink(ByteSink& inner) : inner_(inner) {}
    void Write(const uint8_t* data, size_t size) override {
        const size_t skip = std::min(size, kPwHeaderSize - skipped_);
        skipped_ += skip;
        data += skip;
        size -= skip;
        while (size > 0) {
            const size_t take = std::min(size, sizeof pending_ - pendingSize_);
            std::memcpy(pending_ + pendingSize_, data, take);
            pendingSize_ += take;
            data += take;
            size -= take;
            if (pendingSize_ == sizeof pending_) Drain();
        }
    }
    void Finish() {
        if (pendingSize_ % 2 != 0) throw WriteError("a WAVE file ends in half a sample");
        Drain();
    }

private:
    void Drain() {
        const size_t count = pendingSize_ / 2;
        for (size_t k = 0; k < count; ++k)
            samples_[k] = static_cast<int16_t>(ReadLe16(pending_ + 2 * k));
        EncodePwCodes(codes_, samples_, count);
        inner_.Write(codes_, count);
        pendingSize_ = 0;
    }

    ByteSink& inner_;
    size_t skipped_ = 0;
    uint8_t pending_[8192];
    size_t pendingSize_ = 0;
    int16_t samples_[4096];
    uint8_t codes_[4096];
};

// Writes the file's bytes into `sink`: what planning kept, or the file read
// again, checked against the size (and hash) planning saw.
void WriteFileBytes(const PlanItem& item, uint64_t size, const std::string* hash, ByteSink& sink) {
    if (item.content) {
        sink.Write(item.content->data(), item.content->size());
        return;
    }
    SourceFile file(item.source);
    if (file.size() != size) throw WriteError(Quoted(item.file) + " changed while the archive was written");
    if (!hash) {
        file.CopyTo(sink, 0, size);
        return;
    }
    HashingSink hashing(&sink);
    file.CopyTo(hashing, 0, size);
    if (hashing.Hex() != *hash) throw WriteError(Quoted(item.file) + " changed while the archive was written");
}

ArchiveEntry OriginalEntry(const PlanItem& item) {
    const ManifestEntry& entry = *item.original;
    ArchiveEntry out;
    out.name = entry.nameField;
    out.label = entry.file->path;
    if (entry.form == WrittenForm::Stored) {
        out.size = entry.storedSize;
        out.writeData = [&item](ByteSink& sink) {
            WriteFileBytes(item, item.original->file->size, &item.original->file->hash, sink);
        };
        return out;
    }
    out.size = static_cast<uint32_t>(kPwHeaderSize + uint64_t{PwCodeCount(entry.audioHeader.data())} +
                                     entry.audioTrailing.size());
    out.writeData = [&item](ByteSink& sink) {
        const ManifestEntry& original = *item.original;
        sink.Write(original.audioHeader.data(), original.audioHeader.size());
        CodingSink coding(sink);
        WriteFileBytes(item, original.file->size, &original.file->hash, coding);
        coding.Finish();
        sink.Write(original.audioTrailing.data(), original.audioTrailing.size());
    };
    return out;
}

std::vector<uint8_t> ReadForEncoding(const PlanItem& item) {
    if (item.content) return *item.content;
    return ReadWholeFile(fs::u8path(item.source), kLargestEncodedInput);
}

ArchiveEntry EncodedEntry(const PlanItem& item, const BuildOptions& options, std::vector<std::string>* notes) {
    const std::vector<uint8_t> input = ReadForEncoding(item);
    std::vector<uint8_t> bytes;
    std::vector<std::string> said;
    try {
        if (item.making == Making::PackPicture) {
            PackOptions pack;
            pack.parse = options.parse;
            if (item.original) {
                pack.signature = item.original->pictureSignature == "E1" ? PackedSignature::E1 : PackedSignature::B1;
                pack.preferredDepth = item.original->pictureBitCount;
            }
            PackedPicture picture = PackPicture(input.data(), input.size(), pack);
            bytes = std::move(picture.file);
            said = std::move(picture.notes);
        } else {
            PcmAudio audio = ReadWave(input.data(), input.size());
            said = audio.notes;
            const bool keepHeader = item.original && item.original->kind == EntryKind::Audio;
            bytes = EncodePwAudio(audio, keepHeader ? item.original->audioHeader.data() : nullptr,
                                  keepHeader ? item.original->audioTrailing : std::vector<uint8_t>{});
        }
    } catch (const std::runtime_error& error) {
        throw WriteError(Quoted(item.file) + ": " + error.what());
    }
    for (const std::string& note : said) notes->push_back(Quoted(item.file) + ": " + note);
    return EntryFromBytes(item.nameField, std::move(bytes), item.file);
}

ArchiveEntry AsIsEntry(const PlanItem& item) {
    if (item.fileSize > 0xFFFFFFFFull) throw WriteError(Quoted(item.file) + " is larger than an entry may be (4 GiB)");
    ArchiveEntry out;
    out.name = item.nameField;
    out.label = item.file;
    out.size = static_cast<uint32_t>(item.fileSize);
    out.writeData = [&item](ByteSink& sink) { WriteFileBytes(item, item.fileSize, nullptr, sink); };
    return out;
}

RebuildPlan NewArchivePlan(ArchiveSignature signature) {
    RebuildPlan plan;
    plan.layout = DefaultLayout(signature);
    return plan;
}

}  // namespace

const char* ActionName(PlanAction action) {
    switch (action) {
    case PlanAction::Keep:
        return "keep";
    case PlanAction::Change:
        return "change";
    case PlanAction::Add:
        return "add";
    default:
        return "remove";
    }
}

bool RebuildPlan::Exact() const {
    if (!manifest || !notExact.empty()) return false;
    for (const PlanItem& item : items)
        if (item.action != PlanAction::Keep) return false;
    return true;
}

size_t RebuildPlan::Count(PlanAction action) const {
    return static_cast<size_t>(std::count_if(items.begin(), items.end(),
                                             [action](const PlanItem& item) { return item.action == action; }));
}

std::vector<std::string> PlanReport(const RebuildPlan& plan, bool everyEntry) {
    std::vector<std::string> lines;
    for (const PlanItem& item : plan.items) {
        if (item.action == PlanAction::Keep && !everyEntry) continue;
        std::string line = std::string(ActionName(item.action)) + "\t" + item.name;
        if (!item.file.empty() && item.file != item.name) line += "\t(" + item.file + ")";
        lines.push_back(line + "\t" + item.reason);
    }
    for (const std::string& ignored : plan.ignored) lines.push_back("ignore\t" + ignored);
    std::string summary = std::to_string(plan.Count(PlanAction::Keep)) + " unchanged, " +
                          std::to_string(plan.Count(PlanAction::Change)) + " changed, " +
                          std::to_string(plan.Count(PlanAction::Add)) + " added, " +
                          std::to_string(plan.Count(PlanAction::Remove)) + " left out";
    if (plan.Exact()) {
        summary += ": the original archive, byte for byte";
    } else if (plan.manifest) {
        std::vector<std::string> reasons = plan.notExact;
        if (plan.Count(PlanAction::Keep) != plan.items.size()) reasons.insert(reasons.begin(), "entries differ");
        summary += ": not the original archive byte for byte";
        for (size_t i = 0; i < reasons.size(); ++i) summary += (i == 0 ? " (" : "; ") + reasons[i];
        summary += ")";
    }
    lines.push_back(summary);
    return lines;
}

RebuildPlan PlanRebuild(const fs::path& folder, Manifest manifest, const NameEncoder& encodeName,
                        const BuildOptions& options) {
    RebuildPlan plan;
    plan.manifest = std::make_shared<const Manifest>(std::move(manifest));
    plan.layout = LayoutOf(*plan.manifest);
    plan.notExact = plan.manifest->notExact;
    Folder scanned = ScanFolder(folder, options.output);
    plan.ignored = scanned.ignored;
    Planner planner(folder, encodeName, options);
    planner.PlanEntries(*plan.manifest, scanned, plan);
    planner.CheckNamesAndCount(plan);
    return plan;
}

RebuildPlan PlanFolderArchive(const fs::path& folder, ArchiveSignature signature, const NameEncoder& encodeName,
                              const BuildOptions& options) {
    RebuildPlan plan = NewArchivePlan(signature);
    Folder scanned = ScanFolder(folder, options.output);
    plan.ignored = scanned.ignored;
    std::error_code error;
    if (fs::exists(folder / kManifestFileName, error))
        plan.ignored.push_back(Quoted(kManifestFileName) + ": a manifest, not used for a new archive");
    Planner planner(folder, encodeName, options);
    planner.PlanAdded(scanned, plan);
    planner.CheckNamesAndCount(plan);
    return plan;
}

RebuildPlan PlanFilesArchive(const std::vector<fs::path>& files, ArchiveSignature signature,
                             const NameEncoder& encodeName, const BuildOptions& options) {
    RebuildPlan plan = NewArchivePlan(signature);
    Planner planner(fs::path(), encodeName, options);
    for (const fs::path& file : files) {
        std::error_code error;
        // Named on the command line: a link is what the user means.
        fs::path source = fs::canonical(file, error);
        if (error) throw WriteError("cannot read " + Quoted(file.u8string()) + ": " + error.message());
        plan.items.push_back(planner.NewFileItem(source.u8string(), file.u8string(), file.filename().u8string()));
    }
    planner.CheckNamesAndCount(plan);
    return plan;
}

void BuildArchive(const RebuildPlan& plan, ByteSink& sink, const BuildOptions& options,
                  std::vector<std::string>* notes) {
    std::vector<ArchiveEntry> entries;
    entries.reserve(plan.items.size());
    for (const PlanItem& item : plan.items) {
        switch (item.making) {
        case Making::Nothing:
            break;
        case Making::Original:
            entries.push_back(OriginalEntry(item));
            break;
        case Making::AsIs:
            entries.push_back(AsIsEntry(item));
            break;
        case Making::PackPicture:
        case Making::EncodeAudio:
            entries.push_back(EncodedEntry(item, options, notes));
            break;
        }
    }
    if (options.onProgress) {
        for (ArchiveEntry& entry : entries) {
            entry.writeData = [&options, write = std::move(entry.writeData), &entry](ByteSink& sink) {
                write(sink);
                options.onProgress(entry.label, entry.size);
            };
        }
    }
    WriteArchive(sink, plan.layout, entries);
}

}  // namespace writer
