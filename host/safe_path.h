// Output paths made from entry names that nobody checked: extraction never
// writes outside its output folder, on any file system.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace host {

// Makes a relative path from a decoded (UTF-8) entry name. The name is split
// into parts on '\' and '/'; every part is then made safe on Windows, Linux
// and macOS file systems alike: empty, "." and ".." parts are dropped; a
// drive letter ("C:") loses its colon; characters a Windows file system
// refuses (< > : " | ? * and controls) become '_'; trailing dots and spaces
// are removed; a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with
// an extension) gets a '_' appended to its stem. A name with nothing left
// becomes "_". The parts are joined with '/'. The same name always gives the
// same path.
std::string SafeRelativePath(std::string_view utf8Name);

// Gives the entries of one extraction their output paths, in directory
// order. Paths are compared ignoring letter case (as Windows and macOS file
// systems do), folder parts included, and a file never takes the place of a
// folder or the reverse. A path taken already gets the suffix "~2", "~3", ...
// before its extension: "A.TXT", "A~2.TXT".
class OutputPlanner {
public:
    // The safe, unique relative path for the next entry.
    std::string Assign(std::string_view utf8Name);

private:
    // Folded path -> whether it is a folder.
    std::map<std::string, bool> taken_;
};

}  // namespace host
