// zorv info: what each file is.
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <optional>

#include "command_line.h"
#include "commands.h"
#include "file_facts.h"
#include "json_output.h"
#include "plugin_calls.h"
#include "zorvan_headers.h"

namespace cli {
namespace {

struct InfoOptions {
    std::vector<std::string> files;
    bool json = false;
};

nlohmann::json DescribePicture(host::PicturePlugin& pictures, const std::string& path,
                               const host::PackedPictureHeader& header) {
    host::PictureParts parts = pictures.GetPicture(path);
    nlohmann::json facts = host::PictureFacts(header, parts.info.Bytes());
    facts["file"] = path;
    return facts;
}

nlohmann::json DescribeArchive(Plugins& plugins, const std::string& path) {
    nlohmann::json facts = host::ArchiveFacts(host::ReadArchiveContents(plugins.archives, path));
    facts["file"] = path;
    return facts;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string TextLine(const nlohmann::json& d) {
    const std::string file = d["file"];
    if (d["type"] == "picture") {
        std::string compression = d["compression"];
        return file + ": packed picture " + d["signature"].get<std::string>() + ", " +
               std::to_string(d["width"].get<int64_t>()) + "x" + std::to_string(d["height"].get<int64_t>()) +
               (d["top_down"].get<bool>() ? " top-down" : " bottom-up") + ", " +
               std::to_string(d["bit_count"].get<int>()) + "-bit" +
               (compression == "none" ? "" : " " + compression) + ", " +
               Plural(d["packed_size"], "byte", "bytes") + " packed, " +
               Plural(d["unpacked_size"], "byte", "bytes") + " unpacked";
    }
    return file + ": archive " + d["signature"].get<std::string>() + ", " +
           Plural(d["entries"], "entry", "entries") + " (" + std::to_string(d["audio_entries"].get<uint64_t>()) +
           " coded audio, " + Plural(d["picture_entries"], "packed picture", "packed pictures") + "), " +
           Plural(d["stored_total"], "byte", "bytes") + " stored, " +
           Plural(d["delivered_total"], "byte", "bytes") + " delivered";
}

int RunInfo(const InfoOptions& options, Console& console) {
    Plugins plugins;
    Tally tally;
    nlohmann::json documents = nlohmann::json::array();
    for (const std::string& path : options.files) {
        try {
            // The viewer's way: the picture plug-in probes the file's first
            // bytes in memory, the archive plug-in probes by path.
            const std::vector<uint8_t> head = host::PicturePlugin::ReadHead(path);
            nlohmann::json description;
            std::optional<host::PackedPictureHeader> packed =
                host::ReadPackedPictureHeader(head.data(), head.size());
            if (packed && plugins.pictures.IsSupported(path, head.data()))
                description = DescribePicture(plugins.pictures, path, *packed);
            else if (plugins.archives.IsSupported(path))
                description = DescribeArchive(plugins, path);
            else
                throw files::ToolError("not a ZORVAN picture or archive");
            tally.Done();
            if (options.json)
                documents.push_back(description);
            else
                console.DataLine(Printable(TextLine(description)));
        } catch (const std::exception& error) {
            console.Error(path, error);
            tally.Failed();
        }
    }
    if (options.json) console.DataLine(DumpJson(documents, true));
    return tally.ExitCode();
}

}  // namespace

Command AddInfoCommand(CLI::App& app) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = AddCommand(app, "info", "Say what each file is: a packed picture, an archive, or neither");
    command->add_option("FILE", options->files, "Files to look at")->required();
    command->add_flag("--json", options->json, "One JSON document (an array, one object per file)");
    return {command, [options](Console& console) { return RunInfo(*options, console); }};
}

}  // namespace cli
