// zorv: ZORVAN's pictures and archives on the command line, read through
// the ZorvPict and ZorvPack plug-ins exactly as an image viewer reads them.
#include <CLI/CLI.hpp>

#include <exception>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"

namespace {

// The plug-ins allocate every entry's blocks afresh. By default glibc hands
// large freed blocks back to the system at once, so each entry would pay
// page faults for memory the last one just gave back; keeping freed memory
// for reuse makes extracting many large entries as cheap as copying them.
void KeepFreedMemory() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  everything done\n"
    "  1  done, but some inputs or entries failed or were skipped (each named on stderr)\n"
    "  2  nothing could be done: no input was recognised or readable\n"
    "  3  usage error\n";

void AddExistingPolicy(CLI::App* command, cli::ExistingPolicy& policy) {
    auto* overwrite = command->add_flag_callback(
        "--overwrite", [&policy] { policy = cli::ExistingPolicy::Overwrite; },
        "Replace files that already exist (never a symbolic link or a folder)");
    auto* skip = command->add_flag_callback(
        "--skip-existing", [&policy] { policy = cli::ExistingPolicy::Skip; },
        "Leave files that already exist as they are, quietly");
    overwrite->excludes(skip);
}

}  // namespace

int main(int argc, char** argv) {
    KeepFreedMemory();
    std::vector<std::string> args = cli::PrepareConsole(argc, argv);

    CLI::App app{"Reads ZORVAN's packed pictures (*.bmp) and archives (*.dat) through the ZorvPict "
                 "and ZorvPack plug-ins.",
                 "zorv"};
    app.footer(kExitCodes);
    app.require_subcommand(1);
    app.fallthrough();
    bool quiet = false, verbose = false;
    std::string progress = "auto";
    auto* quietFlag = app.add_flag("-q,--quiet", quiet, "Print nothing but errors");
    app.add_flag("-v,--verbose", verbose, "Name each file written (on stdout)")->excludes(quietFlag);
    app.add_option("--progress", progress, "Progress line on stderr: auto (on a terminal), always, never")
        ->check(CLI::IsMember({"auto", "always", "never"}));

    cli::InfoOptions info;
    auto* infoCommand = app.add_subcommand("info", "Say what each file is: a packed picture, an archive, or neither");
    infoCommand->add_option("FILE", info.files, "Files to look at")->required();
    infoCommand->add_flag("--json", info.json, "One JSON document (an array, one object per file)");
    infoCommand->footer(kExitCodes);

    cli::ListOptions list;
    auto* listCommand = app.add_subcommand(
        "list", "List each archive's entries: index, position, stored and delivered size, kind, name");
    listCommand->add_option("ARCHIVE", list.archives, "Archives to list")->required();
    auto* json = listCommand->add_flag("--json", list.json, "One JSON document");
    auto* jsonl = listCommand->add_flag("--jsonl", list.jsonLines, "One JSON object per entry and line");
    auto* nul = listCommand->add_flag("-0,--null", list.nulSeparated, "Only the names, each followed by a NUL byte");
    json->excludes(jsonl, nul);
    jsonl->excludes(nul);
    listCommand->footer(
        "Names are shown in UTF-8; JSON also carries each name's stored bytes in hex and the path\n"
        "extract writes the entry to.\n\n" + std::string(kExitCodes));

    cli::ExtractOptions extract;
    auto* extractCommand = app.add_subcommand("extract", "Write archive entries as files");
    extractCommand->add_option("ARCHIVE_OR_PATTERN", extract.arguments,
                               "Archives, then optional patterns: case-insensitive globs (* ? [..]) on "
                               "entry names; an argument the archive plug-in does not recognise is a pattern")
        ->required();
    extractCommand->add_option("-o,--output", extract.outputFolder,
                               "Folder to write into (default: the current folder; with several archives, "
                               "one sub-folder per archive, named after it)");
    extractCommand->add_option("--kind", extract.kinds, "Only entries of these kinds: audio, picture, file")
        ->check(CLI::IsMember({"audio", "picture", "file"}))
        ->delimiter(',');
    auto* convertFlag = extractCommand->add_flag(
        "--convert", extract.convert, "Write packed pictures as PNG files (extension .png in place of theirs)");
    auto* rawFlag = extractCommand->add_flag(
        "--raw", extract.raw, "Write every entry's stored bytes unchanged, coded audio included");
    convertFlag->excludes(rawFlag);
    AddExistingPolicy(extractCommand, extract.existing);
    extractCommand->add_flag("--bench-direct-writes", extract.directWrites)->group("");
    extractCommand->footer(
        "Coded audio is written as WAVE, its extension replaced by .wav. Each file is written under a\n"
        "temporary name and renamed into place when complete. Unsafe names are made safe and names\n"
        "that collide get a suffix ~2, ~3, ...; 'zorv list' shows each path.\n\n" +
        std::string(kExitCodes));

    cli::ConvertOptions convert;
    auto* convertCommand = app.add_subcommand("convert", "Turn packed pictures into PNG or plain bitmap files");
    convertCommand->add_option("PICTURE", convert.pictures, "Packed pictures")->required();
    convertCommand->add_option("-o,--output", convert.output,
                               "Output file (one picture) or folder (default: the current folder)");
    convertCommand->add_option("--format", convert.format,
                               "png (what a viewer draws) or bmp (the unpacked bitmap as it is)")
        ->check(CLI::IsMember({"png", "bmp"}));
    AddExistingPolicy(convertCommand, convert.existing);
    convertCommand->footer(kExitCodes);

    std::vector<const char*> pointers;
    for (const std::string& arg : args) pointers.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help
        std::string message = error.what();
        if (app.get_subcommands().empty()) {
            // The first word that is no option should have named a command.
            for (size_t i = 1; i < args.size(); ++i) {
                if (args[i] == "--progress") ++i;
                else if (args[i].empty() || args[i][0] != '-') {
                    message = "unknown command '" + args[i] + "' (commands: info, list, extract, convert)";
                    break;
                }
            }
        }
        std::fprintf(stderr, "zorv: %s\nRun 'zorv --help' for usage.\n", message.c_str());
        return cli::kUsageError;
    }

    cli::Console console(quiet ? cli::Verbosity::Quiet : verbose ? cli::Verbosity::Verbose : cli::Verbosity::Normal,
                         progress == "always"  ? cli::ProgressMode::Always
                         : progress == "never" ? cli::ProgressMode::Never
                                               : cli::ProgressMode::Auto);
    int code;
    try {
        code = infoCommand->parsed()      ? cli::RunInfo(info, console)
               : listCommand->parsed()    ? cli::RunList(list, console)
               : extractCommand->parsed() ? cli::RunExtract(extract, console)
                                          : cli::RunConvert(convert, console);
    } catch (const std::exception& error) {
        // The commands handle each input's failures themselves; what comes
        // here stopped everything (a plug-in missing, memory exhausted).
        console.Progress().Finish();
        console.Error("", error.what());
        code = cli::kNothingDone;
    }
    // Data that never reached its file (a full disk) is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        console.Error("", "cannot write to stdout");
        if (code == cli::kAllDone) code = cli::kSomeFailed;
    }
    return code;
}
