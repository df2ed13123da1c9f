// zorv convert: packed pictures as PNG or plain bitmap files.
#include <algorithm>
#include <memory>

#include "archive_contents.h"
#include "commands.h"
#include "input_file.h"
#include "output_folder.h"
#include "picture_output.h"
#include "safe_path.h"

namespace cli {

void ReportDrawing(Console& console, Tally& tally, const std::string& subject, const host::PictureFile& png) {
    for (const std::string& warning : png.warnings) {
        if (png.complete)
            console.Warning(subject, warning);
        else
            console.Error(subject, "warning: " + warning);
    }
    if (!png.complete) tally.Failed();
}

namespace {

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

std::string BaseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? "." : cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

// Where the files go: one file the user named, or a folder.
struct Destination {
    std::string folder;
    std::string fileName;  // set when the user named the file

    static Destination For(const ConvertOptions& options) {
        bool namedFile = options.pictures.size() == 1 && !options.output.empty() &&
                         !EndsWithSeparator(options.output) && !files::IsFolder(options.output);
        if (namedFile) return {FolderOf(options.output), BaseName(options.output)};
        return {options.output.empty() ? "." : options.output, ""};
    }
};

}  // namespace

int RunConvert(const ConvertOptions& options, Console& console) {
    const bool toPng = options.format == "png";
    const Destination destination = Destination::For(options);
    if (destination.fileName.empty() && !options.output.empty() && files::IsFile(options.output)) {
        console.Error(options.output, "not a folder: with several pictures -o names the folder to write into");
        return kUsageError;
    }

    host::PicturePlugin pictures;
    Tally tally;
    std::unique_ptr<files::OutputFolder> folder;  // made when the first file is ready
    host::OutputPlanner planner;
    files::InstallInterruptCleanup();
    ProgressLine& progress = console.Progress();
    progress.Start(options.pictures.size(), 0);

    for (const std::string& path : options.pictures) {
        progress.SetLabel(path);
        progress.Tick();
        try {
            std::vector<uint8_t> head(host::PicturePlugin::kProbeBytes, 0);
            {
                files::InputFile file(path);
                std::vector<uint8_t> bytes = file.ReadAt(0, head.size());
                std::copy(bytes.begin(), bytes.end(), head.begin());
            }
            if (!pictures.IsSupported(path, head.data())) throw host::HostError("not a ZORVAN packed picture");
            tally.Usable();
            host::PictureParts parts = pictures.GetPicture(path);
            host::PictureFile result = toPng ? host::PictureToPng(parts) : host::PictureToBitmapFile(parts);

            std::string relative = destination.fileName.empty()
                                       ? planner.Assign(host::ReplaceExtension(BaseName(path), toPng ? ".png" : ".bmp"))
                                       : destination.fileName;
            std::string shown = !destination.fileName.empty() ? options.output
                                : options.output.empty()      ? relative
                                                              : destination.folder + "/" + relative;
            if (!folder) folder = std::make_unique<files::OutputFolder>(destination.folder);
            bool exists = folder->Exists(relative);
            if (exists && options.existing == ExistingPolicy::Skip) continue;
            if (exists && options.existing == ExistingPolicy::Refuse)
                throw host::HostError(shown + " exists; not overwritten (use --overwrite or --skip-existing)");
            if (exists && std::any_of(options.pictures.begin(), options.pictures.end(),
                                      [&](const std::string& input) { return files::SameFile(input, shown); }))
                throw host::HostError(shown + " is one of the pictures being converted; not replaced");

            files::PendingFile file = folder->Create(relative);
            file.Write(result.bytes.data(), result.bytes.size());
            if (!file.Commit(options.existing == ExistingPolicy::Overwrite)) {
                if (options.existing == ExistingPolicy::Skip) continue;
                throw host::HostError(shown + " exists; not overwritten (use --overwrite or --skip-existing)");
            }
            console.Written(shown);
            ReportDrawing(console, tally, path, result);
        } catch (const std::exception& error) {
            console.Error(path, error.what());
            tally.Failed();
        }
        progress.Advance(1, 0);
    }
    progress.Finish();
    return tally.ExitCode();
}

}  // namespace cli
