// Output paths made from entry names that nobody checked: extraction never
// writes outside its output folder, on any file system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace host {

// Longest part SafeRelativePath gives, in bytes: room is left for the
// planner's "~N" below the 255 bytes (or UTF-16 units) file systems allow.
constexpr size_t kMaxPathPartBytes = 230;

// Makes a relative path from a decoded (UTF-8) entry name. The name is split
// into parts on '\' and '/'; every part is then made safe on Windows, Linux
// and macOS file systems alike:
//   - a drive letter at the start of the name ("C:") loses its colon;
//   - characters a Windows file system refuses (< > : " | ? * and the
//     controls 0x00-0x1F, 0x7F) and bytes that are not UTF-8 become '_';
//   - a part longer than kMaxPathPartBytes is cut to it (whole characters);
//   - trailing dots and spaces are removed;
//   - a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, also
//     with superscript digits, in any letter case, with or without an
//     extension) gets a '_' after its stem: "con.txt" -> "con_.txt";
//   - parts left empty, and "." and "..", are dropped.
// A name with nothing left becomes "_". The parts are joined with '/'. The
// same name always gives the same path, and the path, joined under a folder,
// never leaves it.
std::string SafeRelativePath(std::string_view utf8Name);

// The comparison key of a path as a Windows file system sees names:
// files::FoldPathForFileSystem, the one rule every tool uses.
std::string FoldCase(std::string_view utf8Path);

// Gives the entries of one extraction their output paths, in directory
// order. Paths are compared as FoldCase does (as Windows and macOS file
// systems do), folder parts included. A file never takes the place of a
// folder or the reverse, and no two files share a path:
//   - a file whose path is taken (by a file or a folder) gets the suffix
//     "~2", "~3", ... before its extension: "A.TXT", "a~2.txt";
//   - a folder part that names a file already planned gets the first suffix
//     that is not a file ("D" is a file, so "D\X" goes to "D~2/X"), the same
//     for every later entry under it;
//   - a folder part that matches a planned folder in another letter case
//     takes that folder's spelling, so the output is the same on every file
//     system.
class OutputPlanner {
public:
    // The safe, unique relative path for the next entry.
    std::string Assign(std::string_view utf8Name);

private:
    // The folder that `part` under `parent` (a planned folder, "" for the
    // output folder) goes to; once made, the answer never changes.
    std::string ResolveFolder(const std::string& parent, const std::string& part);
    // Plans a file for `part` under `parent`, suffixed until it is free.
    std::string PlaceFile(const std::string& parent, const std::string& part);

    struct Planned {
        bool isFolder;
        std::string spelling;
    };
    // Only looked up, never walked in order: hashed, as planning 65,535
    // names spent most of its time comparing strings in ordered maps.
    std::unordered_map<std::string, Planned> taken_;             // folded path -> what goes there
    std::unordered_map<std::string, std::string> folderFor_;     // folded requested folder -> planned one
    std::unordered_map<std::string, unsigned long> nextSuffix_;  // folded file path -> first "~N" to try
};

}  // namespace host
