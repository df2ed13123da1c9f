// What the commands share in registering themselves on the command line.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "commands.h"

namespace cli {

// The exit codes, as every help page ends.
extern const char* const kExitCodes;

// A command whose help ends with its notes, if any, then the exit codes.
CLI::App* AddCommand(CLI::App& app, const char* name, const char* description, const std::string& notes = "");

// -o of the commands that make one file of each input.
void AddOutputFileOrFolder(CLI::App* command, std::string& output);

// --png-level, 0..12; unset, each picture gets its kind's default.
CLI::Option* AddPngLevel(CLI::App* command, int& level);

// --overwrite and --skip-existing.
void AddExistingPolicy(CLI::App* command, ExistingPolicy& policy);

}  // namespace cli
