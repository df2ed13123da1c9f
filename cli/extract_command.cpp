// zorv extract: archive entries as files.
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "command_line.h"
#include "commands.h"
#include "content_hash.h"
#include "extract_manifest.h"
#include "input_file.h"
#include "manifest.h"
#include "name_glob.h"
#include "output_folder.h"
#include "picture_output.h"
#include "safe_path.h"

namespace cli {
namespace {

struct ExtractOptions {
    // Archives and patterns as given: the arguments the archive plug-in
    // recognises are archives, the others patterns.
    std::vector<std::string> arguments;
    std::string outputFolder;
    std::vector<std::string> kinds;  // "audio", "picture", "file"; empty: all
    bool convert = false;
    int pngLevel = host::kPngLevelByKind;
    bool raw = false;
    ExistingPolicy existing = ExistingPolicy::Refuse;
};

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
    // Files are written in pieces of this size, to move the progress line.
    static constexpr size_t kPiece = size_t{4} << 20;

    Extractor(const ExtractOptions& options, Console& console, Plugins& plugins, files::OutputFolder& folder,
              Tally& tally)
        : options_(options), console_(console), plugins_(plugins), folder_(folder), tally_(tally) {}

    void ExtractArchive(const ArchiveJob& job) {
        const files::InputFile archive(job.path);
        ManifestRecorder manifest(job.path, job.contents, console_);
        for (uint32_t index : job.selected) {
            const host::ArchiveEntry& entry = job.contents.entries[index];
            console_.Progress().SetLabel(entry.name);
            entryBytes_ = options_.raw ? entry.storedSize : entry.deliveredSize;
            bytesShown_ = 0;
            try {
                ExtractEntry(job, entry, archive, manifest);
            } catch (files::ToolError& error) {
                Fail(job.path, error.InEntry(entry.name));
            } catch (const std::exception& error) {
                Fail(job.path, files::ToolError(error.what()).InEntry(entry.name));
            }
            // Done with the entry, written or not: all of its bytes count.
            console_.Progress().Advance(1, entryBytes_ - bytesShown_);
            console_.Progress().Tick();
        }
        try {
            const std::string written = manifest.Write(folder_, job.subfolder, options_.existing);
            if (!written.empty()) console_.Written(Shown(written));
        } catch (const std::exception& error) {
            console_.Error(job.path, "the manifest: " + Told(error, job.path));
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
    void ExtractEntry(const ArchiveJob& job, const host::ArchiveEntry& entry, const files::InputFile& archive,
                      ManifestRecorder& manifest) {
        const host::OutputPaths& paths = job.outputs[entry.index];
        if (entry.sharesPositionWith)
            return Fail(job.path, entry,
                        "listed at the same position as entry " + std::to_string(*entry.sharesPositionWith) +
                            ", so the plug-in cannot deliver it");
        // The directory's word alone allocates nothing: the bytes must be there.
        if (uint64_t{entry.position} + entry.storedSize > archive.Size())
            return Fail(job.path, entry,
                        "its " + std::to_string(entry.storedSize) + " stored bytes at position " +
                            std::to_string(entry.position) + " reach past the end of the archive (" +
                            std::to_string(archive.Size()) + " bytes)");
        // A picture goes through the plug-in even so: its depth is recorded.
        if (options_.raw && entry.kind != host::EntryKind::Picture) return CopyStored(job, entry, archive, manifest);

        host::HostBlock block;
        host::ByteSpan bytes;
        const auto deliver = [&](files::PendingFile& file) {
            block = Deliver(job.path, entry);
            bytes = block.Bytes();
            if (bytes.size < entry.deliveredSize)
                throw files::ToolError("the plug-in delivered " + std::to_string(bytes.size) + " bytes, not " +
                                       std::to_string(entry.deliveredSize));
            bytes.size = entry.deliveredSize;
            WriteInPieces(file, bytes, true);
        };
        if (!Put(job, entry, paths.file, deliver, entry.deliveredSize)) return;
        manifest.RecordFile(entry.index, paths.file, bytes, !options_.raw);
        if (entry.kind == host::EntryKind::Picture) PictureBeside(job, entry, bytes, manifest);
    }

    // A packed picture's depth for the manifest, so that a PNG put in its
    // place is packed at it again, and with --convert its PNG.
    void PictureBeside(const ArchiveJob& job, const host::ArchiveEntry& entry, host::ByteSpan bytes,
                       ManifestRecorder& manifest) {
        if (!options_.convert) {
            if (!manifest.Active()) return;
            // Only a hint: an entry that merely looks like a picture has none.
            try {
                const PictureInfoRecord info = plugins_.pictures.GetPictureInfo(bytes.data, bytes.size);
                manifest.RecordBitCount(entry.index, info.colorDepth);
            } catch (const files::ToolError& error) {
                if (error.Kind() != files::ErrorKind::PluginRefused) throw;
            }
            return;
        }
        host::PictureParts parts = plugins_.pictures.GetPicture(bytes.data, bytes.size);
        const host::ByteSpan info = parts.info.Bytes();
        if (info.size >= 16) manifest.RecordBitCount(entry.index, ReadLe16(info.data + 14));
        host::PictureFile png = host::PictureToPng(parts, {options_.pngLevel});
        const host::ByteSpan pngBytes{png.bytes.data(), png.bytes.size()};
        const std::string& pngPath = job.outputs[entry.index].png;
        const auto write = [&](files::PendingFile& file) { WriteInPieces(file, pngBytes, false); };
        const files::PutResult put = folder_.Put(InFolder(job, pngPath), write, options_.existing, false);
        if (put == files::PutResult::Exists) return Fail(job.path, entry, NotOverwritten(Shown(InFolder(job, pngPath))));
        if (put == files::PutResult::Skipped) return;
        console_.Written(Shown(InFolder(job, pngPath)));
        manifest.RecordPng(entry.index, pngPath, pngBytes);
        ReportDrawing(console_, tally_, job.path + ": " + entry.name, png);
    }

    // The stored bytes straight from the archive, a piece at a time, so
    // that memory does not grow with the entry.
    void CopyStored(const ArchiveJob& job, const host::ArchiveEntry& entry, const files::InputFile& archive,
                    ManifestRecorder& manifest) {
        writer::ContentHash digest;
        const auto copy = [&](files::PendingFile& file) {
            std::vector<uint8_t> piece(std::min<uint64_t>(kPiece, entry.storedSize));
            for (uint64_t done = 0; done < entry.storedSize; done += piece.size()) {
                const size_t size = static_cast<size_t>(std::min<uint64_t>(piece.size(), entry.storedSize - done));
                archive.ReadExactly(entry.position + done, piece.data(), size);
                digest.Update(piece.data(), size);
                file.Write(piece.data(), size);
                ShowProgress(size);
            }
        };
        const std::string& path = job.outputs[entry.index].file;
        if (Put(job, entry, path, copy, entry.storedSize))
            manifest.RecordFile(entry.index, path, entry.storedSize, digest.FinishHex(), false);
    }

    // Puts the entry's file in place under the policy for existing files,
    // counting and naming what became of it; true when it was written.
    bool Put(const ArchiveJob& job, const host::ArchiveEntry& entry, const std::string& path,
             const std::function<void(files::PendingFile&)>& produce, uint64_t size) {
        // The rename into place refuses an existing file anyway; asking first
        // only saves the work of a large entry (when resuming, say).
        const std::string relative = InFolder(job, path);
        switch (folder_.Put(relative, produce, options_.existing, size >= kAskFirstSize)) {
            case files::PutResult::Written:
                ++written_;
                tally_.Done();
                console_.Written(Shown(relative));
                return true;
            case files::PutResult::Skipped:
                ++skipped_;
                tally_.Done();
                return false;
            case files::PutResult::Exists: break;
        }
        Fail(job.path, entry, NotOverwritten(Shown(relative)));
        return false;
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
    void WriteInPieces(files::PendingFile& file, host::ByteSpan bytes, bool counted) {
        for (size_t done = 0; done < bytes.size; done += kPiece) {
            size_t size = std::min(kPiece, bytes.size - done);
            file.Write(bytes.data + done, size);
            ShowProgress(counted ? size : 0);
        }
    }

    // Bytes of the entry at hand written, never more than the entry has.
    void ShowProgress(uint64_t size) {
        const uint64_t shown = std::min<uint64_t>(size, entryBytes_ - bytesShown_);
        bytesShown_ += shown;
        console_.Progress().Advance(0, shown);
        console_.Progress().Tick();
    }

    void Fail(const std::string& archive, const host::ArchiveEntry& entry, const std::string& why) {
        Fail(archive, files::ToolError(why).InEntry(entry.name));
    }
    // An entry that failed, named under its archive.
    void Fail(const std::string& archive, const files::ToolError& error) {
        console_.Error(archive, error);
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

// The arguments: archives (regular files the archive plug-in takes) and
// patterns, with what stood in the way of each as an archive.
class Arguments {
public:
    Arguments(const std::vector<std::string>& arguments, host::ArchivePlugin& plugin) {
        // Only a regular file reaches the plug-in: a named pipe would keep it waiting.
        for (const std::string& argument : arguments) {
            const std::string& problem = problems_[argument] = OpenProblem(argument);
            bool isArchive = false;
            try {
                isArchive = problem.empty() && plugin.IsSupported(argument);
            } catch (const files::ToolError&) {  // no path the plug-in could open
            }
            (isArchive ? archives : patterns).push_back(argument);
        }
    }

    // Why an argument is no archive, when none is.
    std::string NoArchive(const std::string& argument) const {
        const std::string& problem = problems_.at(argument);
        return problem.empty() ? "not a ZORVAN archive" : problem == kMissing ? "no such archive" : problem;
    }
    // Why a pattern selected nothing.
    std::string Unused(const std::string& pattern) const {
        if (pattern.find_first_of("*?[") != std::string::npos) return "no entry matches this pattern";
        return NoArchive(pattern) + ", and no entry has this name";
    }

    std::vector<std::string> archives, patterns;

private:
    // Why a path cannot be read as a file: empty when it can, kMissing when
    // nothing stands there, else what stands in the way (a named pipe, say).
    static constexpr const char* kMissing = "missing";
    static std::string OpenProblem(const std::string& path) {
        try {
            files::InputFile file(path);
            return {};
        } catch (const files::ToolError& error) {
            return files::IsFile(path) || files::IsFolder(path) ? error.Reason() : kMissing;
        }
    }

    std::map<std::string, std::string> problems_;
};

// Each readable archive with the entries the selection takes.
struct Plan {
    std::vector<ArchiveJob> jobs;
    uint64_t entries = 0, bytes = 0;
};

Plan PlanJobs(const ExtractOptions& options, const std::vector<std::string>& archives, Selection& selection,
              Plugins& plugins, Console& console, Tally& tally) {
    const host::OutputNaming naming{!options.raw, options.convert, writer::kManifestFileName};
    Plan plan;
    host::OutputPlanner subfolders;
    for (const std::string& path : archives) {
        ArchiveJob job;
        job.path = path;
        if (archives.size() > 1) job.subfolder = subfolders.Assign(host::ReplaceExtension(files::BaseName(path), ""));
        std::optional<host::ArchiveContents> contents = plugins.ReadArchive(path, console, tally);
        if (!contents) continue;
        job.contents = std::move(*contents);
        job.outputs = host::PlanOutputPaths(job.contents.entries, naming);
        for (const host::ArchiveEntry& entry : job.contents.entries) {
            if (!selection.Selects(entry)) continue;
            job.selected.push_back(entry.index);
            plan.bytes += options.raw ? entry.storedSize : entry.deliveredSize;
        }
        plan.entries += job.selected.size();
        plan.jobs.push_back(std::move(job));
    }
    return plan;
}

// Extracts what was planned and sums it up; ToolError when the output
// folder cannot be made.
void RunPlan(const ExtractOptions& options, const Plan& plan, Plugins& plugins, Console& console, Tally& tally) {
    const std::string folderName = options.outputFolder.empty() ? "." : options.outputFolder;
    files::OutputFolder folder(folderName);
    Extractor extractor(options, console, plugins, folder, tally);
    console.Progress().Start(plan.entries, plan.bytes);
    for (const ArchiveJob& job : plan.jobs) {
        try {
            extractor.ExtractArchive(job);
        } catch (const std::exception& error) {  // its stored bytes could not be opened
            console.Error(job.path, error);
            tally.Failed();
        }
    }
    console.Progress().Finish();
    std::string summary = "extracted " + std::to_string(extractor.Written()) + " of " +
                          std::to_string(plan.entries) + (plan.entries == 1 ? " entry" : " entries") + " into " +
                          folderName;
    if (extractor.Skipped()) summary += ", " + std::to_string(extractor.Skipped()) + " already there";
    if (extractor.Failed()) summary += ", " + std::to_string(extractor.Failed()) + " failed";
    console.Note(summary);
}

int RunExtract(const ExtractOptions& options, Console& console) {
    Plugins plugins;
    Tally tally;
    const Arguments arguments(options.arguments, plugins.archives);
    if (arguments.archives.empty()) {
        for (const std::string& argument : options.arguments) console.Error(argument, arguments.NoArchive(argument));
        return kNothingDone;
    }
    Selection selection(arguments.patterns, options.kinds);
    const Plan plan = PlanJobs(options, arguments.archives, selection, plugins, console, tally);
    for (const std::string& pattern : selection.Unused()) {
        console.Error(pattern, arguments.Unused(pattern));
        tally.Failed();
    }
    if (plan.entries == 0) {
        console.Note("no entry selected");
        return tally.ExitCode();
    }
    files::InstallInterruptCleanup();
    try {
        RunPlan(options, plan, plugins, console, tally);
    } catch (const std::exception& error) {
        console.Progress().Finish();
        console.Error(options.outputFolder.empty() ? "." : options.outputFolder, error);
        return kNothingDone;
    }
    return tally.ExitCode();
}

}  // namespace

Command AddExtractCommand(CLI::App& app) {
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* command = AddCommand(
        app, "extract", "Write archive entries as files",
        "Coded audio is written as WAVE, its extension replaced by .wav. Each file is written under a\n"
        "temporary name and renamed into place when complete. Unsafe names are made safe and names\n"
        "that collide get a suffix ~2, ~3, ...; 'zorv list' shows each path. Beside the files goes\n"
        "zorv-manifest.json (one per archive folder), from which 'zorv build' gives the archive back.");
    command->add_option("ARCHIVE_OR_PATTERN", options->arguments,
                        "Archives, then optional patterns: case-insensitive globs (* ? [..]) on "
                        "entry names; an argument the archive plug-in does not recognise is a pattern")
        ->required();
    command->add_option("-o,--output", options->outputFolder,
                        "Folder to write into (default: the current folder; with several archives, "
                        "one sub-folder per archive, named after it)");
    command->add_option("--kind", options->kinds, "Only entries of these kinds: audio, picture, file")
        ->check(CLI::IsMember({"audio", "picture", "file"}))
        ->delimiter(',');
    auto* convert = command->add_flag(
        "--convert", options->convert,
        "Also write each packed picture as a PNG file beside it (extension .png in place of its own)");
    auto* raw = command->add_flag("--raw", options->raw,
                                  "Write every entry's stored bytes unchanged, coded audio included");
    convert->excludes(raw);
    AddPngLevel(command, options->pngLevel)->needs(convert);
    AddExistingPolicy(command, options->existing);
    return {command, [options](Console& console) { return RunExtract(*options, console); }};
}

}  // namespace cli
