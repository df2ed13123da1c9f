// The commands. Each registers itself, with its options, on the command
// line and returns what runs it; a run returns the exit code, every failure
// named on stderr by then.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive_contents.h"
#include "console.h"
#include "output_folder.h"
#include "packed_picture.h"
#include "picture_output.h"

namespace CLI {
class App;
}

namespace cli {

using files::ExistingPolicy;

// Why a file that exists was left as it is, under ExistingPolicy::Refuse.
inline std::string NotOverwritten(const std::string& shownPath) {
    return shownPath + " exists; not overwritten (use --overwrite or --skip-existing)";
}

// A command as registered: its part of the command line, and what runs it
// once the line is parsed.
struct Command {
    CLI::App* line;
    std::function<int(Console&)> run;
};

Command AddInfoCommand(CLI::App& app);
Command AddListCommand(CLI::App& app);
Command AddExtractCommand(CLI::App& app);
Command AddConvertCommand(CLI::App& app);
Command AddPackCommand(CLI::App& app);
Command AddBuildCommand(CLI::App& app);

// Counts what the inputs yielded into the exit code: 0 when nothing
// failed, 2 when something failed and no input yielded anything, else 1.
class Tally {
public:
    // An input or entry gave what was asked of it (or, as asked, its file
    // was left as it stood).
    void Done() { ++done_; }
    void Failed() { ++failures_; }
    int ExitCode() const { return failures_ == 0 ? kAllDone : done_ == 0 ? kNothingDone : kSomeFailed; }

private:
    int done_ = 0;
    int failures_ = 0;
};

// Both plug-ins, loaded once for the command that reads through them.
struct Plugins {
    host::PicturePlugin pictures;
    host::ArchivePlugin archives;

    // The archive's contents; nullopt when it cannot be read, which is
    // named on stderr and counted as a failure.
    std::optional<host::ArchiveContents> ReadArchive(const std::string& path, Console& console, Tally& tally);
};

// Warnings of a picture drawn to PNG. One drawn only in part counts as a
// failure, so its warnings are shown even with -q.
void ReportDrawing(Console& console, Tally& tally, const std::string& subject, const host::PictureFile& png);

// The check of every picture zorv packs: the picture plug-in (loaded when
// first needed) must deliver, from the packed picture, the bitmap that was
// packed (all but its 14-byte file header, which the plug-in does not hand
// over).
writer::PackedPictureCheck PicturePluginCheck();

}  // namespace cli
