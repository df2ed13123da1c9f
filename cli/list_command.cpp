// zorv list: one line (or JSON object) per entry.
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "json_output.h"
#include "manifest.h"

namespace cli {
namespace {

struct ListOptions {
    std::vector<std::string> archives;
    bool json = false;
    bool jsonLines = false;
    bool nulSeparated = false;
};

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

nlohmann::json EntryJson(const host::ArchiveEntry& entry, const std::string& output) {
    nlohmann::json json = {{"index", entry.index},
                           {"position", entry.position},
                           {"stored_size", entry.storedSize},
                           {"delivered_size", entry.deliveredSize},
                           {"kind", host::KindName(entry.kind)},
                           {"name", entry.name},
                           {"name_hex", Hex(entry.rawName)},
                           {"output", output}};
    if (entry.sharesPositionWith) json["shares_position_with"] = *entry.sharesPositionWith;
    return json;
}

std::string EntryLine(const host::ArchiveEntry& entry, const std::string& output) {
    char columns[96];
    std::snprintf(columns, sizeof columns, "%5u %10u %10u %10u  %-7s  ", entry.index, entry.position,
                  entry.storedSize, entry.deliveredSize, host::KindName(entry.kind));
    std::string line = columns + entry.name;
    if (entry.sharesPositionWith)
        line += "  (cannot be extracted: listed at the position of entry " +
                std::to_string(*entry.sharesPositionWith) + ")";
    else if (output != entry.name)
        line += " -> " + output;
    return line;
}

int RunList(const ListOptions& options, Console& console) {
    Plugins plugins;
    Tally tally;
    nlohmann::json document = nlohmann::json::array();
    bool severalArchives = options.archives.size() > 1;
    bool firstShown = true;
    for (const std::string& path : options.archives) {
        const std::optional<host::ArchiveContents> read = plugins.ReadArchive(path, console, tally);
        if (!read) continue;
        tally.Done();
        const host::ArchiveContents& contents = *read;
        std::vector<host::OutputPaths> outputs = host::PlanOutputPaths(contents.entries, {true, false, writer::kManifestFileName});
        if (options.json) {
            nlohmann::json entries = nlohmann::json::array();
            for (size_t i = 0; i < contents.entries.size(); ++i)
                entries.push_back(EntryJson(contents.entries[i], outputs[i].file));
            document.push_back({{"archive", path}, {"signature", contents.signature}, {"entries", entries}});
        } else if (options.jsonLines) {
            for (size_t i = 0; i < contents.entries.size(); ++i) {
                nlohmann::json line = {{"archive", path}};
                line.update(EntryJson(contents.entries[i], outputs[i].file));
                console.DataLine(DumpJson(line, false));
            }
        } else if (options.nulSeparated) {
            for (const host::ArchiveEntry& entry : contents.entries) console.DataBytes(entry.name + '\0');
        } else {
            if (severalArchives) console.DataLine((firstShown ? "" : "\n") + Printable(path) + ":");
            firstShown = false;
            console.DataLine("index   position     stored  delivered  kind     name");
            for (size_t i = 0; i < contents.entries.size(); ++i)
                console.DataLine(Printable(EntryLine(contents.entries[i], outputs[i].file)));
        }
    }
    if (options.json) console.DataLine(DumpJson(document, true));
    return tally.ExitCode();
}

}  // namespace

Command AddListCommand(CLI::App& app) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* command = AddCommand(
        app, "list", "List each archive's entries: index, position, stored and delivered size, kind, name",
        "Names are shown in UTF-8; JSON also carries each name's stored bytes in hex and the path\n"
        "extract writes the entry to.");
    command->add_option("ARCHIVE", options->archives, "Archives to list")->required();
    auto* json = command->add_flag("--json", options->json, "One JSON document");
    auto* jsonl = command->add_flag("--jsonl", options->jsonLines, "One JSON object per entry and line");
    auto* nul = command->add_flag("-0,--null", options->nulSeparated, "Only the names, each followed by a NUL byte");
    json->excludes(jsonl, nul);
    jsonl->excludes(nul);
    return {command, [options](Console& console) { return RunList(*options, console); }};
}

}  // namespace cli
