// What several commands share.
#include "commands.h"

#include <algorithm>
#include <memory>

namespace cli {

std::optional<host::ArchiveContents> Plugins::ReadArchive(const std::string& path, Console& console, Tally& tally) {
    try {
        return host::ReadArchiveContents(archives, path);
    } catch (const std::exception& error) {
        console.Error(path, error);
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

writer::PackedPictureCheck PicturePluginCheck() {
    auto plugin = std::make_shared<std::optional<host::PicturePlugin>>();
    return [plugin](const std::vector<uint8_t>& packed, const uint8_t* bitmap, size_t size) {
        if (!*plugin) plugin->emplace();
        host::PictureParts parts = (*plugin)->GetPicture(packed.data(), packed.size());
        const host::ByteSpan info = parts.info.Bytes();
        const host::ByteSpan bits = parts.bits.Bytes();
        const size_t header = 14;
        // At least the info header; bytes a plain bitmap holds past its rows are not delivered.
        if (size < header || info.size < 40 || info.size > size - header || bits.size > size - header - info.size)
            return false;
        const uint8_t* at = bitmap + header;
        return std::equal(info.data, info.data + info.size, at) &&
               std::equal(bits.data, bits.data + bits.size, at + info.size);
    };
}

}  // namespace cli
