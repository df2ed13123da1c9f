// zorv extract: archive entries as files.
#include <algorithm>
#include <memory>
#include <set>

#include "commands.h"
#include "extract_manifest.h"
#include "input_file.h"
#include "manifest.h"
#include "name_glob.h"
#include "output_folder.h"
#include "picture_output.h"
#include "safe_path.h"

namespace cli {
namespace {

// One archive to extract from, with every entry's planned output path.
struct ArchiveJob {
    std::string path;
    host::ArchiveContents contents;
    // By entry index. The planner gives no two the same path, and with
    // several archives each has a sub-folder of its own: no file of a run
    // is written twice.
    std::vector<host::OutputPaths> outputs;
    std::vector<uint32_t> selected;  // entry indexes, in directory order
    std::string subfolder;           // empty for a single archive; the archive's name without its extension
};

// Which entries the patterns and kinds select; remembers which patterns
// ever matched.
class Selection {
public:
    Selection(std::vector<std::string> patterns, const std::vector<std::string>& kinds)
        : patterns_(std::move(patterns)), used_(patterns_.size(), false), kinds_(kinds.begin(), kinds.end()) {}

    bool Selects(const host::ArchiveEntry& entry) {
        if (!kinds_.empty() && !kinds_.count(host::KindName(entry.kind))) return false;
        if (patterns_.empty()) return true;
        bool any = false;
        for (size_t i = 0; i < patterns_.size(); ++i)
            if (host::GlobMatch(patterns_[i], entry.name)) any = used_[i] = true;
        return any;
    }
    std::vector<std::string> Unused() const {
        std::vector<std::string> unused;
        for (size_t i = 0; i < patterns_.size(); ++i)
            if (!used_[i]) unused.push_back(patterns_[i]);
        return unused;
    }

private:
    std::vector<std::string> patterns_;
    std::vector<bool> used_;
    std::set<std::string> kinds_;
};

class Extractor {
public:
    static constexpr uint32_t kAskFirstSize = 64 * 1024;

    Extractor(const ExtractOptions& options, Console& console, Plugins& plugins, files::OutputFolder& folder,
              Tally& tally)
        : options_(options), console_(console), plugins_(plugins), folder_(folder), tally_(tally) {}

    void ExtractArchive(const ArchiveJob& job) {
        std::unique_ptr<files::InputFile> stored;
        if (options_.raw) stored = std::make_unique<files::InputFile>(job.path);
        ManifestRecorder manifest(job.path, job.contents.entries.size(), console_);
        for (uint32_t index : job.selected) {
            const host::ArchiveEntry& entry = job.contents.entries[index];
            console_.Progress().SetLabel(entry.name);
            entryBytes_ = options_.raw ? entry.storedSize : entry.deliveredSize;
            bytesShown_ = 0;
            try {
                ExtractEntry(job, entry, stored.get(), manifest);
            } catch (const std::exception& error) {
                Fail(job.path, entry, error.what());
            }
            // Done with the entry, written or not: all of its bytes count.
            console_.Progress().Advance(1, entryBytes_ - bytesShown_);
            console_.Progress().Tick();
        }
        try {
            const std::string written = manifest.Write(folder_, job.subfolder, options_.existing);
            if (!written.empty()) console_.Written(Shown(written));
        } catch (const std::exception& error) {
            console_.Error(job.path, std::string("the manifest: ") + error.what());
            tally_.Failed();
        }
    }

    size_t Written() const { return written_; }
    size_t Skipped() const { return skipped_; }
    size_t Failed() const { return failed_; }

private:
    static std::string InFolder(const ArchiveJob& job, const std::string& path) {
        return job.subfolder.empty() ? path : job.subfolder + "/" + path;
    }

    // Writes the entry's file (and with --convert, a packed picture's PNG
    // beside it) and records them for the manifest. A skip or a failure is
    // counted and reported here.
    void ExtractEntry(const ArchiveJob& job, const host::ArchiveEntry& entry, const files::InputFile* stored,
                      ManifestRecorder& manifest) {
        const host::OutputPaths& paths = job.outputs[entry.index];
        const std::string relative = InFolder(job, paths.file);
        if (entry.sharesPositionWith) {
            Fail(job.path, entry,
                 "listed at the same position as entry " + std::to_string(*entry.sharesPositionWith) +
                     ", so the plug-in cannot deliver it");
            return;
        }
        // The rename into place refuses an existing file anyway; asking first
        // only saves the work of a large entry (when resuming, say).
        if (options_.existing != ExistingPolicy::Overwrite && entry.deliveredSize >= kAskFirstSize &&
            folder_.Exists(relative))
            return Existing(job, entry, relative);

        std::vector<uint8_t> storedBytes;
        host::HostBlock block;
        host::ByteSpan bytes;
        if (stored != nullptr && entry.kind == host::EntryKind::Audio) {
            // The plug-in always converts audio; its stored bytes are the host's to read.
            storedBytes.resize(entry.storedSize);
            stored->ReadExactly(entry.position, storedBytes.data(), storedBytes.size());
            bytes = {storedBytes.data(), storedBytes.size()};
        } else {
            block = Deliver(job.path, entry);
            bytes = block.Bytes();
            if (bytes.size < entry.deliveredSize)
                throw host::HostError("the plug-in delivered " + std::to_string(bytes.size) + " bytes, not " +
                                      std::to_string(entry.deliveredSize));
            bytes.size = entry.deliveredSize;
        }

        if (!Write(relative, bytes)) return Existing(job, entry, relative);
        ++written_;
        console_.Written(Shown(relative));
        manifest.RecordFile(entry.index, paths.file, bytes, !options_.raw);
        if (entry.kind != host::EntryKind::Picture || (!manifest.Active() && !options_.convert)) return;

        // The picture's depth, so that a PNG put in its place is packed at it
        // again. Only a hint: an entry that merely looks like a picture has none.
        if (!options_.convert) {
            try {
                const PictureInfoRecord info = plugins_.pictures.GetPictureInfo(bytes.data, bytes.size);
                manifest.RecordBitCount(entry.index, info.colorDepth);
            } catch (const host::PluginFailure&) {
            }
            return;
        }
        host::PictureParts parts = plugins_.pictures.GetPicture(bytes.data, bytes.size);
        const host::ByteSpan info = parts.info.Bytes();
        if (info.size >= 16) manifest.RecordBitCount(entry.index, ReadLe16(info.data + 14));
        host::PictureFile png = host::PictureToPng(parts, {options_.pngLevel});
        const host::ByteSpan pngBytes{png.bytes.data(), png.bytes.size()};
        const std::string pngRelative = InFolder(job, paths.png);
        if (!Write(pngRelative, pngBytes, false)) {
            if (options_.existing != ExistingPolicy::Skip)
                Fail(job.path, entry, NotOverwritten(Shown(pngRelative)));
            return;
        }
        console_.Written(Shown(pngRelative));
        manifest.RecordPng(entry.index, paths.png, pngBytes);
        ReportDrawing(console_, tally_, job.path + ": " + entry.name, png);
    }

    host::HostBlock Deliver(const std::string& path, const host::ArchiveEntry& entry) {
        ProgressLine& progress = console_.Progress();
        host::ArchivePlugin::Progress report = [&](int32_t step, int32_t total) {
            progress.SetLabel(entry.name + " (" + std::to_string(step) + "/" + std::to_string(total) + ")");
            progress.Tick();
            return true;
        };
        host::HostBlock block =
            plugins_.archives.GetFile(path, entry.position, progress.Enabled() ? &report : nullptr);
        progress.SetLabel(entry.name);
        return block;
    }

    // Written in pieces, so that one large entry moves the progress line
    // (a PNG does not: its entry's bytes are counted already).
    bool Write(const std::string& relative, host::ByteSpan bytes, bool counted = true) {
        files::PendingFile file = folder_.Create(relative);
        const size_t piece = size_t{4} << 20;
        for (size_t done = 0; done < bytes.size; done += piece) {
            size_t size = std::min(piece, bytes.size - done);
            file.Write(bytes.data + done, size);
            // A PNG is not as long as the entry it comes from.
            uint64_t shown = counted ? std::min<uint64_t>(size, entryBytes_ - bytesShown_) : 0;
            bytesShown_ += shown;
            console_.Progress().Advance(0, shown);
            console_.Progress().Tick();
        }
        return file.Commit(options_.existing == ExistingPolicy::Overwrite);
    }

    void Existing(const ArchiveJob& job, const host::ArchiveEntry& entry, const std::string& relative) {
        if (options_.existing == ExistingPolicy::Skip) {
            ++skipped_;
            return;
        }
        Fail(job.path, entry, NotOverwritten(Shown(relative)));
    }

    void Fail(const std::string& archive, const host::ArchiveEntry& entry, const std::string& why) {
        console_.Error(archive + ": " + entry.name, why);
        ++failed_;
        tally_.Failed();
    }

    std::string Shown(const std::string& relative) const {
        return options_.outputFolder.empty() ? relative : options_.outputFolder + "/" + relative;
    }

    const ExtractOptions& options_;
    Console& console_;
    Plugins& plugins_;
    files::OutputFolder& folder_;
    Tally& tally_;
    size_t written_ = 0, skipped_ = 0, failed_ = 0;
    uint64_t entryBytes_ = 0, bytesShown_ = 0;  // of the entry at hand, for the progress line
};

bool HasGlobCharacters(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

bool IsExistingFile(const std::string& path) {
    try {
        files::InputFile file(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

int RunExtract(const ExtractOptions& options, Console& console) {
    Plugins plugins;
    Tally tally;

    std::vector<std::string> archivePaths, patterns;
    for (const std::string& argument : options.arguments) {
        bool isArchive = false;
        try {
            isArchive = plugins.archives.IsSupported(argument);
        } catch (const host::HostError&) {  // no path the plug-in could open
        }
        (isArchive ? archivePaths : patterns).push_back(argument);
    }
    if (archivePaths.empty()) {
        for (const std::string& argument : options.arguments)
            console.Error(argument, IsExistingFile(argument) ? "not a ZORVAN archive" : "no such archive");
        return kNothingDone;
    }

    const host::OutputNaming naming{!options.raw, options.convert, writer::kManifestFileName};
    Selection selection(patterns, options.kinds);
    std::vector<ArchiveJob> jobs;
    host::OutputPlanner subfolders;
    uint64_t totalEntries = 0, totalBytes = 0;
    for (const std::string& path : archivePaths) {
        ArchiveJob job;
        job.path = path;
        if (archivePaths.size() > 1)
            job.subfolder = subfolders.Assign(host::ReplaceExtension(files::BaseName(path), ""));
        std::optional<host::ArchiveContents> contents = plugins.ReadArchive(path, console, tally);
        if (!contents) continue;
        job.contents = std::move(*contents);
        job.outputs = host::PlanOutputPaths(job.contents.entries, naming);
        for (const host::ArchiveEntry& entry : job.contents.entries) {
            if (!selection.Selects(entry)) continue;
            job.selected.push_back(entry.index);
            totalBytes += options.raw ? entry.storedSize : entry.deliveredSize;
        }
        totalEntries += job.selected.size();
        jobs.push_back(std::move(job));
    }
    for (const std::string& pattern : selection.Unused()) {
        std::string why = HasGlobCharacters(pattern) ? "no entry matches this pattern"
                          : IsExistingFile(pattern)  ? "not a ZORVAN archive, and no entry has this name"
                                                     : "no such archive, and no entry has this name";
        console.Error(pattern, why);
        tally.Failed();
    }
    if (totalEntries == 0) {
        console.Note("no entry selected");
        return tally.ExitCode();
    }

    files::SetDirectWritesForBenchmark(options.directWrites);
    files::InstallInterruptCleanup();
    size_t written = 0, skipped = 0, failed = 0;
    std::string folderName = options.outputFolder.empty() ? "." : options.outputFolder;
    try {
        files::OutputFolder folder(folderName);
        Extractor extractor(options, console, plugins, folder, tally);
        console.Progress().Start(totalEntries, totalBytes);
        for (const ArchiveJob& job : jobs) {
            try {
                extractor.ExtractArchive(job);
            } catch (const std::exception& error) {  // its stored bytes could not be opened
                console.Error(job.path, error.what());
                tally.Failed();
            }
        }
        console.Progress().Finish();
        written = extractor.Written();
        skipped = extractor.Skipped();
        failed = extractor.Failed();
    } catch (const std::exception& error) {
        console.Progress().Finish();
        console.Error(folderName, error.what());
        return kNothingDone;
    }
    std::string summary = "extracted " + std::to_string(written) + " of " + std::to_string(totalEntries) +
                          (totalEntries == 1 ? " entry" : " entries") + " into " + folderName;
    if (skipped) summary += ", " + std::to_string(skipped) + " already there";
    if (failed) summary += ", " + std::to_string(failed) + " failed";
    console.Note(summary);
    return tally.ExitCode();
}

}  // namespace cli
