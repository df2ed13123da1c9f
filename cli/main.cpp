// zorv: ZORVAN's pictures and archives on the command line, read through
// the ZorvPict and ZorvPack plug-ins exactly as an image viewer reads them.
#include <CLI/CLI.hpp>

#include <exception>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <string>
#include <vector>

#include "command_line.h"
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

// The first word that is no option, when it names no command.
std::string UnknownCommandMessage(const std::vector<std::string>& args, const std::string& otherwise) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--progress")
            ++i;
        else if (args[i].empty() || args[i][0] != '-')
            return "unknown command '" + args[i] + "' (commands: info, list, extract, convert, pack, build)";
    }
    return otherwise;
}

// Runs the command the line named; its exit code.
int RunParsedCommand(const std::vector<cli::Command>& commands, cli::Console& console) {
    int code = cli::kUsageError;
    try {
        for (const cli::Command& command : commands)
            if (command.line->parsed()) code = command.run(console);
    } catch (const std::exception& error) {
        // The commands handle each input's failures themselves; what comes
        // here stopped everything (a plug-in missing, memory exhausted).
        console.Progress().Finish();
        console.Error("", error);
        code = cli::kNothingDone;
    }
    // Data that never reached its file (a full disk) is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        console.Error("", "cannot write to stdout");
        if (code == cli::kAllDone) code = cli::kSomeFailed;
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    KeepFreedMemory();
    std::vector<std::string> args = cli::PrepareConsole(argc, argv);

    CLI::App app{"Reads ZORVAN's packed pictures (*.bmp) and archives (*.dat) through the ZorvPict "
                 "and ZorvPack plug-ins, and writes them.",
                 "zorv"};
    app.footer(cli::kExitCodes);
    app.require_subcommand(1);
    app.fallthrough();
    bool quiet = false, verbose = false;
    std::string progress = "auto";
    auto* quietFlag = app.add_flag("-q,--quiet", quiet, "Print nothing but errors");
    app.add_flag("-v,--verbose", verbose, "Name each file written (on stdout)")->excludes(quietFlag);
    app.add_option("--progress", progress, "Progress line on stderr: auto (on a terminal), always, never")
        ->check(CLI::IsMember({"auto", "always", "never"}));

    const std::vector<cli::Command> commands = {cli::AddInfoCommand(app),    cli::AddListCommand(app),
                                                cli::AddExtractCommand(app), cli::AddConvertCommand(app),
                                                cli::AddPackCommand(app),    cli::AddBuildCommand(app)};

    std::vector<const char*> pointers;
    for (const std::string& arg : args) pointers.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help
        const std::string message =
            app.get_subcommands().empty() ? UnknownCommandMessage(args, error.what()) : error.what();
        std::fprintf(stderr, "zorv: %s\nRun 'zorv --help' for usage.\n", message.c_str());
        return cli::kUsageError;
    }

    cli::Console console(quiet ? cli::Verbosity::Quiet : verbose ? cli::Verbosity::Verbose : cli::Verbosity::Normal,
                         progress == "always"  ? cli::ProgressMode::Always
                         : progress == "never" ? cli::ProgressMode::Never
                                               : cli::ProgressMode::Auto);
    return RunParsedCommand(commands, console);
}
