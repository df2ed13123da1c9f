// The commands. Each takes its parsed options and returns the exit
// code; every failure is named on stderr by the time it returns.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive_contents.h"
#include "console.h"
#include "picture_output.h"

namespace cli {

enum class ExistingPolicy { Refuse, Overwrite, Skip };

// Why a file that exists was left as it is, under ExistingPolicy::Refuse.
inline std::string NotOverwritten(const std::string& shownPath) {
    return shownPath + " exists; not overwritten (use --overwrite or --skip-existing)";
}

struct InfoOptions {
    std::vector<std::string> files;
    bool json = false;
};

struct ListOptions {
    std::vector<std::string> archives;
    bool json = false;
    bool jsonLines = false;
    bool nulSeparated = false;
};

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
    bool directWrites = false;  // benchmarks only
};

struct ConvertOptions {
    std::vector<std::string> pictures;
    std::string output;
    std::string format = "png";
    int pngLevel = host::kPngLevelByKind;
    ExistingPolicy existing = ExistingPolicy::Refuse;
};

struct PackOptions {
    std::vector<std::string> pictures;
    std::string output;
    std::string signature = "B1";
    int depth = 0;  // 0: the picture's own
    bool fast = false;
    ExistingPolicy existing = ExistingPolicy::Refuse;
};

struct BuildOptions {
    std::vector<std::string> inputs;  // one folder, or files
    std::string output;
    std::string signature;  // empty: a rebuild keeps the archive's, a new archive is ZRV01
    bool encodeAudio = false;
    bool dryRun = false;
    bool fast = false;
    bool overwrite = false;
};

int RunInfo(const InfoOptions& options, Console& console);
int RunList(const ListOptions& options, Console& console);
int RunExtract(const ExtractOptions& options, Console& console);
int RunConvert(const ConvertOptions& options, Console& console);
int RunPack(const PackOptions& options, Console& console);
int RunBuild(const BuildOptions& options, Console& console);

// Counts inputs and failures into the exit code: 2 when no input could be
// used at all, else 1 when anything failed or was skipped, else 0.
class Tally {
public:
    void Usable() { ++usable_; }
    void Failed() { ++failures_; }
    int ExitCode() const { return usable_ == 0 ? kNothingDone : failures_ > 0 ? kSomeFailed : kAllDone; }

private:
    int usable_ = 0;
    int failures_ = 0;
};

// Both plug-ins, loaded once for the command that reads through them.
struct Plugins {
    host::PicturePlugin pictures;
    host::ArchivePlugin archives;

    // The archive's contents, the archive counted as usable; nullopt when it
    // cannot be read, which is named on stderr and counted as a failure.
    std::optional<host::ArchiveContents> ReadArchive(const std::string& path, Console& console, Tally& tally);
};

// Warnings of a picture drawn to PNG. One drawn only in part counts as a
// failure, so its warnings are shown even with -q.
void ReportDrawing(Console& console, Tally& tally, const std::string& subject, const host::PictureFile& png);

}  // namespace cli
