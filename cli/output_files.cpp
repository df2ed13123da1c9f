#include "output_files.h"

#include <algorithm>

#include "input_file.h"
#include "plugin_module.h"

namespace cli {

namespace {

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

}  // namespace

OutputFiles::OutputFiles(const std::vector<std::string>& inputs, const std::string& output, ExistingPolicy existing)
    : inputs_(inputs), output_(output), existing_(existing) {
    const bool namedFile =
        inputs.size() == 1 && !output.empty() && !EndsWithSeparator(output) && !files::IsFolder(output);
    if (namedFile) {
        folderPath_ = files::FolderOf(output);
        fileName_ = files::BaseName(output);
    } else {
        folderPath_ = output.empty() ? "." : output;
    }
}

bool OutputFiles::NamesFileForSeveral() const {
    return fileName_.empty() && !output_.empty() && files::IsFile(output_);
}

std::string OutputFiles::Write(const std::string& name, const uint8_t* data, size_t size) {
    const std::string relative = fileName_.empty() ? planner_.Assign(name) : fileName_;
    const std::string shown = !fileName_.empty() ? output_ : output_.empty() ? relative : folderPath_ + "/" + relative;
    if (!folder_) folder_ = std::make_unique<files::OutputFolder>(folderPath_);
    if (existing_ == ExistingPolicy::Overwrite && folder_->Exists(relative) &&
        std::any_of(inputs_.begin(), inputs_.end(),
                    [&](const std::string& input) { return files::SameFile(input, shown); }))
        throw files::ToolError(shown + " is one of the inputs; not replaced");
    const files::PutResult put =
        folder_->Put(relative, [&](files::PendingFile& file) { file.Write(data, size); }, existing_);
    if (put == files::PutResult::Exists) throw files::ToolError(NotOverwritten(shown));
    return put == files::PutResult::Written ? shown : std::string();
}

int MakeEach(const std::vector<std::string>& inputs, const std::string& output, ExistingPolicy existing,
             Console& console, const MakeOne& make) {
    OutputFiles outputs(inputs, output, existing);
    if (outputs.NamesFileForSeveral()) {
        console.Error(output, "not a folder: with several inputs -o names the folder to write into");
        return kUsageError;
    }
    Tally tally;
    files::InstallInterruptCleanup();
    ProgressLine& progress = console.Progress();
    progress.Start(inputs.size(), 0);
    for (const std::string& path : inputs) {
        progress.SetLabel(path);
        progress.Tick();
        try {
            make(path, outputs, tally);
            tally.Done();
        } catch (const std::exception& error) {
            console.Error(path, error);
            tally.Failed();
        }
        progress.Advance(1, 0);
    }
    progress.Finish();
    return tally.ExitCode();
}

}  // namespace cli
