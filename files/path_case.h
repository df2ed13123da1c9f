// Paths compared as a Windows file system compares names, for every tool
// that must know whether two paths name one file there: extraction's
// output paths, a rebuild finding a PNG beside its picture, a manifest
// naming one file twice.
#pragma once

#include <string>
#include <string_view>

namespace files {

// The comparison key of a UTF-8 path: letter case folded (to upper case)
// for ASCII and for the full-width Latin, Greek, Cyrillic and Roman-numeral
// letters of code page 932; bytes that are not UTF-8 are kept as they are.
std::string FoldPathForFileSystem(std::string_view utf8Path);

}  // namespace files
