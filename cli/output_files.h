// The output side of the commands that turn each input into one file
// (convert, pack): where -o points (one file the user named, or a folder),
// unique names in that folder, and the policy for files that exist. Each
// file is written under a temporary name and renamed into place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "output_folder.h"
#include "safe_path.h"

namespace cli {

class OutputFiles {
public:
    // `output` is -o as given: empty for the current folder.
    OutputFiles(const std::vector<std::string>& inputs, const std::string& output, ExistingPolicy existing);

    // An -o that names an existing file while several inputs need a folder.
    bool NamesFileForSeveral() const;

    // Writes the file made from one input: `name` in the folder, or the
    // file the user named. Returns the path as shown to the user, or an
    // empty text when the file exists and is skipped. Throws when it exists
    // and may not be replaced, or when it is one of the inputs.
    std::string Write(const std::string& name, const uint8_t* data, size_t size);

private:
    const std::vector<std::string>& inputs_;
    std::string output_;
    ExistingPolicy existing_;
    std::string folderPath_;
    std::string fileName_;  // set when the user named the file
    std::unique_ptr<files::OutputFolder> folder_;  // made when the first file is ready
    host::OutputPlanner planner_;
};

// A command that makes one file of each input (convert, pack): checks -o,
// then runs `make` for each input with the progress line. An input is done
// when `make` returns; what it throws is named on stderr and counted as a
// failure, and the other inputs go on. Returns the exit code.
using MakeOne = std::function<void(const std::string& input, OutputFiles& outputs, Tally& tally)>;
int MakeEach(const std::vector<std::string>& inputs, const std::string& output, ExistingPolicy existing,
             Console& console, const MakeOne& make);

}  // namespace cli
