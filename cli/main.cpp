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

// A command whose help ends with its notes, if any, then the exit codes.
CLI::App* AddCommand(CLI::App& app, const char* name, const char* description, const std::string& notes = "") {
    CLI::App* command = app.add_subcommand(name, description);
    command->footer(notes.empty() ? kExitCodes : notes + "\n\n" + kExitCodes);
    return command;
}

// -o of the commands that make one file of each input.
void AddOutputFileOrFolder(CLI::App* command, std::string& output) {
    command->add_option("-o,--output", output, "Output file (one picture) or folder (default: the current folder)");
}

CLI::Option* AddPngLevel(CLI::App* command, int& level) {
    return command
        ->add_option("--png-level", level,
                     "PNG compression, 0 (none, fastest) to 12 (smallest, slowest); default " +
                         std::to_string(host::kDefaultPngLevel) + ", palette pictures " +
                         std::to_string(host::kDefaultPalettePngLevel))
        ->check(CLI::Range(host::kMinPngLevel, host::kMaxPngLevel));
}

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
                 "and ZorvPack plug-ins, and writes them.",
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
    auto* infoCommand = AddCommand(app, "info", "Say what each file is: a packed picture, an archive, or neither");
    infoCommand->add_option("FILE", info.files, "Files to look at")->required();
    infoCommand->add_flag("--json", info.json, "One JSON document (an array, one object per file)");

    cli::ListOptions list;
    auto* listCommand = AddCommand(
        app, "list", "List each archive's entries: index, position, stored and delivered size, kind, name",
        "Names are shown in UTF-8; JSON also carries each name's stored bytes in hex and the path\n"
        "extract writes the entry to.");
    listCommand->add_option("ARCHIVE", list.archives, "Archives to list")->required();
    auto* json = listCommand->add_flag("--json", list.json, "One JSON document");
    auto* jsonl = listCommand->add_flag("--jsonl", list.jsonLines, "One JSON object per entry and line");
    auto* nul = listCommand->add_flag("-0,--null", list.nulSeparated, "Only the names, each followed by a NUL byte");
    json->excludes(jsonl, nul);
    jsonl->excludes(nul);

    cli::ExtractOptions extract;
    auto* extractCommand = AddCommand(
        app, "extract", "Write archive entries as files",
        "Coded audio is written as WAVE, its extension replaced by .wav. Each file is written under a\n"
        "temporary name and renamed into place when complete. Unsafe names are made safe and names\n"
        "that collide get a suffix ~2, ~3, ...; 'zorv list' shows each path. Beside the files goes\n"
        "zorv-manifest.json (one per archive folder), from which 'zorv build' gives the archive back.");
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
        "--convert", extract.convert,
        "Also write each packed picture as a PNG file beside it (extension .png in place of its own)");
    auto* rawFlag = extractCommand->add_flag(
        "--raw", extract.raw, "Write every entry's stored bytes unchanged, coded audio included");
    convertFlag->excludes(rawFlag);
    AddPngLevel(extractCommand, extract.pngLevel)->needs(convertFlag);
    AddExistingPolicy(extractCommand, extract.existing);
    extractCommand->add_flag("--bench-direct-writes", extract.directWrites)->group("");

    cli::ConvertOptions convert;
    auto* convertCommand = AddCommand(app, "convert", "Turn packed pictures into PNG or plain bitmap files");
    convertCommand->add_option("PICTURE", convert.pictures, "Packed pictures")->required();
    AddOutputFileOrFolder(convertCommand, convert.output);
    convertCommand->add_option("--format", convert.format,
                               "png (what a viewer draws) or bmp (the unpacked bitmap as it is)")
        ->check(CLI::IsMember({"png", "bmp"}));
    AddPngLevel(convertCommand, convert.pngLevel);
    AddExistingPolicy(convertCommand, convert.existing);

    cli::PackOptions pack;
    auto* packCommand = AddCommand(
        app, "pack", "Turn PNG and plain bitmap files into packed pictures",
        "A PNG with a palette becomes an 8-bit palette picture, RGB 24-bit, RGB with alpha 32-bit; with\n"
        "--depth, a picture that does not fit that depth is refused. A plain bitmap file is packed as it\n"
        "is. The packed picture keeps a .bmp name and otherwise gets .bmp in place of its extension.");
    packCommand->add_option("PICTURE", pack.pictures, "PNG or plain bitmap files")->required();
    AddOutputFileOrFolder(packCommand, pack.output);
    packCommand->add_option("--signature", pack.signature, "B1 (default) or E1")->check(CLI::IsMember({"B1", "E1"}));
    packCommand->add_option("--depth", pack.depth, "Bits per pixel to write: 1, 4, 8, 24 or 32 (default: the picture's)")
        ->check(CLI::IsMember({1, 4, 8, 24, 32}));
    packCommand->add_flag("--fast", pack.fast, "Pack with the greedy parse: faster, a little larger");
    AddExistingPolicy(packCommand, pack.existing);

    cli::BuildOptions build;
    auto* buildCommand = AddCommand(
        app, "build", "Write an archive from a folder or from files",
        "A folder that 'zorv extract' wrote, with its zorv-manifest.json, is rebuilt: entries whose files\n"
        "are unchanged come back byte for byte, a changed file is encoded as its entry was (a .wav of\n"
        "coded audio is coded again, a .png or plain .bmp in place of a packed picture is packed; a PNG\n"
        "beside a packed picture replaces it), a new file is added at the end, and an entry whose file is\n"
        "gone is left out. Any other folder becomes a new archive of its files in path order, named by\n"
        "their paths (\\ between the parts); files given one by one are named by their file names. Names\n"
        "are stored in code page 932 and must fit in 12 bytes. The archive is written whole or not at\n"
        "all, under a temporary name renamed into place.");
    buildCommand->add_option("FOLDER_OR_FILES", build.inputs, "One folder, or files")->required();
    buildCommand->add_option("-o,--output", build.output, "The archive to write (required unless --dry-run)");
    buildCommand->add_option("--signature", build.signature,
                             "ZRV00, ZRV01 or ZRV03 (a new archive: ZRV01; a rebuild keeps the archive's)")
        ->check(CLI::IsMember({"ZRV00", "ZRV01", "ZRV03"}));
    buildCommand->add_flag("--encode-audio", build.encodeAudio,
                           "Store added .wav files as coded audio (a manifest's audio entries always are)");
    buildCommand->add_flag("--dry-run", build.dryRun,
                           "Only list, on stdout, what the build would change (-v: every entry), writing nothing");
    buildCommand->add_flag("--fast", build.fast, "Pack changed pictures with the greedy parse: faster, a little larger");
    buildCommand->add_flag("--overwrite", build.overwrite,
                           "Replace the archive if it exists (never a symbolic link or a folder)");

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
                    message = "unknown command '" + args[i] + "' (commands: info, list, extract, convert, pack, build)";
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
               : convertCommand->parsed() ? cli::RunConvert(convert, console)
               : packCommand->parsed()    ? cli::RunPack(pack, console)
                                          : cli::RunBuild(build, console);
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
