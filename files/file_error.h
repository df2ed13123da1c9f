// What the tools' file access throws: a message for the user, without the
// program's name, e.g. "cannot open: no such file or directory".
#pragma once

#include <stdexcept>
#include <string>

namespace files {

struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text the system gives for the last error of a file call, lower-case
// first letter, in the same words on every system for the common cases.
std::string LastSystemError();

}  // namespace files
