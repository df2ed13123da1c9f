// Planning a build: what each entry becomes and why, from the folder's
// files (and a rebuild's manifest), reading and hashing but writing nothing.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "file_look.h"
#include "folder_scan.h"
#include "packed_picture.h"
#include "rebuild.h"
#include "wave_file.h"

namespace writer {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

bool Unchanged(const FileLook& look, const WrittenFile& written) {
    return look.size == written.size && look.hash == written.hash;
}

class Planner {
public:
    Planner(const fs::path& root, const NameEncoder& encodeName, const BuildOptions& options)
        : root_(root.empty() ? std::string() : root.u8string() + "/"),
          encodeName_(encodeName),
          options_(options),
          looker_(options.onProgress) {}

    void PlanEntries(const Manifest& manifest, ScannedFolder& folder, RebuildPlan& plan);
    void PlanAdded(const ScannedFolder& folder, RebuildPlan& plan);
    PlanItem NewFileItem(const std::string& source, const std::string& shown, const std::string& entryName);
    void CheckNamesAndCount(const RebuildPlan& plan) const;

private:
    PlanItem PlanEntry(const ManifestEntry& entry, ScannedFolder& folder);
    void PlanPicture(const ManifestEntry& entry, ScannedFolder& folder, PlanItem& item, const std::optional<FileLook>& look);
    void PlanReplacement(const ManifestEntry& entry, PlanItem& item, const FileLook& look);
    std::optional<FileLook> LookIfPresent(const ScannedFolder& folder, const std::string& path);

    std::string root_;  // the folder's UTF-8 path and a '/', to put before relative paths
    const NameEncoder& encodeName_;
    const BuildOptions& options_;
    FileLooker looker_;
};

std::optional<FileLook> Planner::LookIfPresent(const ScannedFolder& folder, const std::string& path) {
    if (folder.ThroughLink(path))
        throw files::ToolError(Quoted(path) + " is, or lies in, a symbolic link; a rebuild never follows one");
    if (folder.Find(path) < 0) return std::nullopt;
    return looker_.Look(root_ + path, true);
}

void Planner::PlanEntries(const Manifest& manifest, ScannedFolder& folder, RebuildPlan& plan) {
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

PlanItem Planner::PlanEntry(const ManifestEntry& entry, ScannedFolder& folder) {
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

void Planner::PlanPicture(const ManifestEntry& entry, ScannedFolder& folder, PlanItem& item,
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
        throw files::ToolError("both " + Quoted(entry.file->path) + " and " + Quoted(png) + " changed; the entry " +
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
            throw files::ToolError(Quoted(entry.file->path) + " held a packed picture, and now holds neither a packed "
                                   "picture, a PNG nor a bitmap file");
        }
    } else if (entry.kind == EntryKind::Audio && isWave) {
        item.making = Making::EncodeAudio;
        item.reason = "changed: coded from the WAVE, with the original header's other fields";
    } else if (entry.kind == EntryKind::Audio && entry.form == WrittenForm::Wave && !isCoded) {
        throw files::ToolError(Quoted(entry.file->path) + " held coded audio as WAVE, and now holds neither a WAVE "
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
        throw files::ToolError("the name " + Quoted(entryName) +
                               (shown == entryName ? "" : " (of " + Quoted(shown) + ")") +
                               " cannot be written in the archive's code page");
    item.nameField = MakeNameField(*raw, entryName);
    FileLook look = looker_.Look(source, false);
    item.fileSize = look.size;
    item.content = look.content;
    if (look.size > 0xFFFFFFFFull) throw files::ToolError(Quoted(shown) + " is larger than an entry may be (4 GiB)");
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

void Planner::PlanAdded(const ScannedFolder& folder, RebuildPlan& plan) {
    for (size_t i = 0; i < folder.files.size(); ++i) {
        const std::string& path = folder.files[i];
        if (folder.claimed[i]) continue;
        const std::string hidden = WhyHidden(path);
        if (!hidden.empty()) {
            plan.ignored.push_back(Quoted(path) + ": " + hidden);
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
        throw files::ToolError("an archive holds at most 65,535 entries; this one would hold " +
                               std::to_string(written));
    if (plan.Count(PlanAction::Add) == 0) return;  // the manifest's own names stand as they were
    std::unordered_map<std::string, const PlanItem*> taken;
    for (const PlanItem& item : plan.items) {
        if (item.action == PlanAction::Remove) continue;
        auto inserted = taken.emplace(FoldArchiveName(NameFromField(item.nameField)), &item);
        if (!inserted.second && item.action == PlanAction::Add)
            throw files::ToolError("the name " + Quoted(item.name) + " (of " + Quoted(item.file) + ") is taken by " +
                                   Quoted(inserted.first->second->name) + " (of " +
                                   Quoted(inserted.first->second->file) + ")");
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

std::vector<ReportRow> PlanRows(const RebuildPlan& plan, bool everyEntry) {
    std::vector<ReportRow> rows;
    for (const PlanItem& item : plan.items) {
        if (item.action == PlanAction::Keep && !everyEntry) continue;
        rows.push_back(ReportRow{ActionName(item.action), item.name, item.file != item.name ? item.file : "",
                                 item.reason});
    }
    for (const std::string& ignored : plan.ignored) rows.push_back(ReportRow{"ignore", "", "", ignored});
    return rows;
}

std::string PlanSummary(const RebuildPlan& plan) {
    std::string summary = std::to_string(plan.Count(PlanAction::Keep)) + " unchanged, " +
                          std::to_string(plan.Count(PlanAction::Change)) + " changed, " +
                          std::to_string(plan.Count(PlanAction::Add)) + " added, " +
                          std::to_string(plan.Count(PlanAction::Remove)) + " left out";
    if (plan.Exact()) return summary + ": the original archive, byte for byte";
    if (!plan.manifest) return summary;
    std::vector<std::string> reasons = plan.notExact;
    if (plan.Count(PlanAction::Keep) != plan.items.size()) reasons.insert(reasons.begin(), "entries differ");
    summary += ": not the original archive byte for byte";
    for (size_t i = 0; i < reasons.size(); ++i) summary += (i == 0 ? " (" : "; ") + reasons[i];
    return summary + ")";
}

std::vector<std::string> PlanReport(const RebuildPlan& plan, bool everyEntry) {
    std::vector<std::string> lines;
    for (const ReportRow& row : PlanRows(plan, everyEntry)) {
        std::string line = row.action + "\t";
        if (row.action != "ignore") line += row.name + "\t";
        if (!row.file.empty()) line += "(" + row.file + ")\t";
        lines.push_back(line + row.reason);
    }
    lines.push_back(PlanSummary(plan));
    return lines;
}

RebuildPlan PlanRebuild(const fs::path& folder, Manifest manifest, const NameEncoder& encodeName,
                        const BuildOptions& options) {
    RebuildPlan plan;
    plan.manifest = std::make_shared<const Manifest>(std::move(manifest));
    plan.layout = LayoutOf(*plan.manifest);
    plan.notExact = plan.manifest->notExact;
    ScannedFolder scanned = ScanFolder(folder, options.output);
    plan.ignored = scanned.ignored;
    Planner planner(folder, encodeName, options);
    planner.PlanEntries(*plan.manifest, scanned, plan);
    planner.CheckNamesAndCount(plan);
    return plan;
}

RebuildPlan PlanFolderArchive(const fs::path& folder, ArchiveSignature signature, const NameEncoder& encodeName,
                              const BuildOptions& options) {
    RebuildPlan plan = NewArchivePlan(signature);
    ScannedFolder scanned = ScanFolder(folder, options.output);
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
        if (error) throw files::ToolError("cannot read " + Quoted(file.u8string()) + ": " + error.message());
        plan.items.push_back(planner.NewFileItem(source.u8string(), file.u8string(), file.filename().u8string()));
    }
    planner.CheckNamesAndCount(plan);
    return plan;
}

}  // namespace writer
