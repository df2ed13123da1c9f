// What several commands share.
#include "commands.h"

namespace cli {

std::optional<host::ArchiveContents> Plugins::ReadArchive(const std::string& path, Console& console, Tally& tally) {
    try {
        host::ArchiveContents contents = host::ReadArchiveContents(archives, path);
        tally.Usable();
        return contents;
    } catch (const std::exception& error) {
        console.Error(path, error.what());
        tally.Failed();
        return std::nullopt;
    }
}

void ReportDrawing(Console& console, Tally& tally, const std::string& subject, const host::PictureFile& png) {
    for (const std::string& warning : png.warnings) {
        if (png.complete)
            console.Warning(subject, warning);
        else
            console.Error(subject, "warning: " + warning);
    }
    if (!png.complete) tally.Failed();
}

}  // namespace cli
