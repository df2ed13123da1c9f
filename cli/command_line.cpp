#include "command_line.h"

#include "png_file.h"

namespace cli {

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  everything done\n"
    "  1  done, but some inputs or entries failed or were skipped (each named on stderr)\n"
    "  2  nothing could be done: each input or entry failed, none gave anything\n"
    "  3  usage error\n";

CLI::App* AddCommand(CLI::App& app, const char* name, const char* description, const std::string& notes) {
    CLI::App* command = app.add_subcommand(name, description);
    command->footer(notes.empty() ? kExitCodes : notes + "\n\n" + kExitCodes);
    return command;
}

void AddOutputFileOrFolder(CLI::App* command, std::string& output) {
    command->add_option("-o,--output", output, "Output file (one picture) or folder (default: the current folder)");
}

CLI::Option* AddPngLevel(CLI::App* command, int& level) {
    return command
        ->add_option("--png-level", level,
                     "PNG compression, 0 (none, fastest) to 12 (smallest, slowest); default " +
                         std::to_string(host::kDefaultPngLevel) + ", photographs " +
                         std::to_string(host::kDefaultPhotoPngLevel) + ", palette pictures " +
                         std::to_string(host::kDefaultPalettePngLevel))
        ->check(CLI::Range(host::kMinPngLevel, host::kMaxPngLevel));
}

void AddExistingPolicy(CLI::App* command, ExistingPolicy& policy) {
    auto* overwrite = command->add_flag_callback(
        "--overwrite", [&policy] { policy = ExistingPolicy::Overwrite; },
        "Replace files that already exist (never a symbolic link or a folder)");
    auto* skip = command->add_flag_callback(
        "--skip-existing", [&policy] { policy = ExistingPolicy::Skip; },
        "Leave files that already exist as they are, quietly");
    overwrite->excludes(skip);
}

}  // namespace cli
