// zorv build: an archive from a folder (rebuilt byte for byte from what
// extraction left, when its manifest is there) or from files. The archive
// is written whole or not at all: everything that can be refused is
// refused while planning, before the first byte, and the file reaches its
// name only complete.
#include <filesystem>

#include "command_line.h"
#include "commands.h"
#include "input_file.h"
#include "output_folder.h"
#include "names.h"
#include "rebuild.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

struct BuildOptions {
    std::vector<std::string> inputs;  // one folder, or files
    std::string output;
    std::string signature;  // empty: a rebuild keeps the archive's, a new archive is ZRV01
    bool encodeAudio = false;
    bool dryRun = false;
    bool fast = false;
    bool overwrite = false;
};

// The archive's bytes into its pending file, gathered into large writes.
class PendingFileSink : public writer::ByteSink {
public:
    explicit PendingFileSink(files::PendingFile& file) : file_(file) { buffer_.reserve(kBufferSize); }

    void Write(const uint8_t* data, size_t size) override {
        if (buffer_.size() + size > kBufferSize) Flush();
        if (size >= kBufferSize)
            file_.Write(data, size);
        else
            buffer_.insert(buffer_.end(), data, data + size);
    }
    void Flush() {
        file_.Write(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

private:
    static constexpr size_t kBufferSize = 256 * 1024;
    files::PendingFile& file_;
    std::vector<uint8_t> buffer_;
};

// Why an archive that exists was left as it is (without --overwrite).
constexpr const char* kExists = "exists; not overwritten (use --overwrite)";

// A row of the plan in columns: the action, then the name, the file in
// parentheses and the reason, two spaces apart.
std::string ReportLine(const writer::ReportRow& row) {
    std::string line = row.action;
    line.resize(std::max<size_t>(line.size(), 7), ' ');
    line += " ";
    if (row.action != "ignore") line += row.name + "  ";
    if (!row.file.empty()) line += "(" + row.file + ")  ";
    return line + row.reason;
}

class Builder {
public:
    Builder(const BuildOptions& options, Console& console) : options_(options), console_(console) {
        writeOptions_.parse = options.fast ? writer::LzssParse::Greedy : writer::LzssParse::Optimal;
        writeOptions_.encodeAudio = options.encodeAudio;
        writeOptions_.checkPicture = PicturePluginCheck();
        if (!options.output.empty()) writeOptions_.output = fs::u8path(options.output);
    }

    writer::RebuildPlan Plan(const std::string& folder) {
        StartProgress(0, 0);  // the files are counted as they are read
        const fs::path root = fs::u8path(folder.empty() ? "." : folder);
        std::error_code error;
        if (!folder.empty() && fs::exists(root / writer::kManifestFileName, error)) {
            writer::Manifest manifest = writer::ReadManifestFile(root / writer::kManifestFileName);
            const std::string was(manifest.header.begin(), manifest.header.begin() + 5);
            writer::RebuildPlan plan =
                writer::PlanRebuild(root, std::move(manifest), host::Utf8ToName, writeOptions_);
            if (!options_.signature.empty() && options_.signature != was) {
                writer::ArchiveLayout fresh = writer::DefaultLayout(writer::ParseArchiveSignature(options_.signature));
                std::copy(fresh.signature.begin(), fresh.signature.begin() + 5, plan.layout.signature.begin());
                plan.notExact.push_back("the signature changes from " + was + " to " + options_.signature);
            }
            return plan;
        }
        const auto signature = writer::ParseArchiveSignature(options_.signature.empty() ? "ZRV01" : options_.signature);
        if (!folder.empty()) return writer::PlanFolderArchive(root, signature, host::Utf8ToName, writeOptions_);
        std::vector<fs::path> paths;
        for (const std::string& file : options_.inputs) paths.push_back(fs::u8path(file));
        return writer::PlanFilesArchive(paths, signature, host::Utf8ToName, writeOptions_);
    }

    // Writes the archive; ToolError when it cannot.
    void Write(const writer::RebuildPlan& plan) {
        // Only an archive that exists (it is replaced) can be one of the inputs.
        if (files::IsFile(options_.output))
            for (const writer::PlanItem& item : plan.items)
                if (!item.source.empty() && item.action != writer::PlanAction::Remove &&
                    files::SameFile(item.source, options_.output))
                    throw files::ToolError(options_.output + " is one of the files it is built from; not replaced");
        uint64_t items = 0, bytes = 0;
        for (const writer::PlanItem& item : plan.items) {
            if (item.action == writer::PlanAction::Remove) continue;
            ++items;
            bytes += item.making == writer::Making::Original ? item.original->storedSize : item.fileSize;
        }
        StartProgress(items, bytes);
        files::InstallInterruptCleanup();
        files::OutputFolder folder(files::FolderOf(options_.output));
        const auto build = [&](files::PendingFile& file) {
            PendingFileSink sink(file);
            writer::BuildArchive(plan, sink, writeOptions_, &notes_);
            sink.Flush();
            file.Sync();  // an archive is worth the wait for the disk
        };
        const files::PutResult put = folder.Put(files::BaseName(options_.output), build,
                                                options_.overwrite ? ExistingPolicy::Overwrite : ExistingPolicy::Refuse,
                                                false);
        if (put != files::PutResult::Written) throw files::ToolError(kExists).About(options_.output);
        console_.Progress().Finish();
    }

    const std::vector<std::string>& Notes() const { return notes_; }

private:
    // The writer moves the progress line with each file it reads or writes.
    void StartProgress(uint64_t items, uint64_t bytes) {
        ProgressLine& progress = console_.Progress();
        progress.Start(items, bytes);
        writeOptions_.onProgress = [&progress](const std::string& label, uint64_t size) {
            progress.Advance(1, size);
            progress.SetLabel(label);
            progress.Tick();
        };
    }

    const BuildOptions& options_;
    Console& console_;
    writer::BuildOptions writeOptions_;
    std::vector<std::string> notes_;
};

// One folder, or files: anything else is a usage error (empty when fine).
std::string CheckInputs(const BuildOptions& options, std::string& folder) {
    if (options.output.empty() && !options.dryRun) return "-o is required: the archive to write";
    if (options.inputs.size() == 1 && files::IsFolder(options.inputs[0])) {
        folder = options.inputs[0];
        return {};
    }
    for (const std::string& input : options.inputs)
        if (files::IsFolder(input)) return input + " is a folder: give one folder, or files";
    return {};
}

// Files were given or found, but none could be taken in: each is named.
bool NothingToBuild(const writer::RebuildPlan& plan, const std::string& folder, Console& console) {
    if (!plan.items.empty() || plan.ignored.empty()) return false;
    for (const writer::ReportRow& row : writer::PlanRows(plan, false))
        if (row.action == "ignore") console.Error("", ReportLine(row));
    console.Error(folder, "nothing to build: no file could be taken in");
    return true;
}

int RunBuild(const BuildOptions& options, Console& console) {
    std::string folder;
    const std::string usage = CheckInputs(options, folder);
    if (!usage.empty()) {
        console.Error("", usage);
        return kUsageError;
    }
    if (!options.dryRun && !options.overwrite && files::IsFile(options.output)) {
        console.Error(options.output, kExists);
        return kNothingDone;
    }
    Builder builder(options, console);
    writer::RebuildPlan plan;
    try {
        plan = builder.Plan(folder);
        console.Progress().Finish();
    } catch (const std::exception& error) {
        console.Progress().Finish();
        console.Error(folder, error);
        return kNothingDone;
    }
    const bool rebuild = plan.manifest != nullptr;
    if (NothingToBuild(plan, folder, console)) return kNothingDone;
    const std::vector<writer::ReportRow> rows = writer::PlanRows(plan, console.Verbose());
    const std::string summary = writer::PlanSummary(plan);
    if (options.dryRun) {
        for (const writer::ReportRow& row : rows) console.DataLine(Printable(ReportLine(row)));
        console.DataLine(Printable(summary));
        return kAllDone;
    }

    try {
        builder.Write(plan);
    } catch (const std::exception& error) {
        console.Progress().Finish();
        console.Error(options.output, error);
        return kNothingDone;
    }
    for (const std::string& note : builder.Notes()) console.Note(note);
    // In a new archive every file is added: unless asked, only what was left aside is told.
    for (const writer::ReportRow& row : rows)
        if (rebuild || console.Verbose() || row.action == "ignore") console.Note(ReportLine(row));
    console.Written(options.output);
    console.Note("built " + options.output + ": " + summary);
    return kAllDone;
}

}  // namespace

Command AddBuildCommand(CLI::App& app) {
    auto options = std::make_shared<BuildOptions>();
    CLI::App* command = AddCommand(
        app, "build", "Write an archive from a folder or from files",
        "A folder that 'zorv extract' wrote, with its zorv-manifest.json, is rebuilt: entries whose files\n"
        "are unchanged come back byte for byte, a changed file is encoded as its entry was (a .wav of\n"
        "coded audio is coded again, a .png or plain .bmp in place of a packed picture is packed; a PNG\n"
        "beside a packed picture replaces it), a new file is added at the end, and an entry whose file is\n"
        "gone is left out. Any other folder becomes a new archive of its files in path order, named by\n"
        "their paths (\\ between the parts); files given one by one are named by their file names. Names\n"
        "are stored in code page 932 and must fit in 12 bytes. The archive is written whole or not at\n"
        "all, under a temporary name renamed into place.");
    command->add_option("FOLDER_OR_FILES", options->inputs, "One folder, or files")->required();
    command->add_option("-o,--output", options->output, "The archive to write (required unless --dry-run)");
    command->add_option("--signature", options->signature,
                        "ZRV00, ZRV01 or ZRV03 (a new archive: ZRV01; a rebuild keeps the archive's)")
        ->check(CLI::IsMember({"ZRV00", "ZRV01", "ZRV03"}));
    command->add_flag("--encode-audio", options->encodeAudio,
                      "Store added .wav files as coded audio (a manifest's audio entries always are)");
    command->add_flag("--dry-run", options->dryRun,
                      "Only list, on stdout, what the build would change (-v: every entry), writing nothing");
    command->add_flag("--fast", options->fast, "Pack changed pictures with the greedy parse: faster, a little larger");
    command->add_flag("--overwrite", options->overwrite,
                      "Replace the archive if it exists (never a symbolic link or a folder)");
    return {command, [options](Console& console) { return RunBuild(*options, console); }};
}

}  // namespace cli
