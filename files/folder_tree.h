// Every entry under a folder, for building an archive from it. Links (on
// Windows, every reparse point: symbolic links and junctions) are listed
// as links and never entered or followed, whatever the C runtime's own
// calls would make of them: the scan uses the system's calls directly.
#pragma once

#include <string>
#include <vector>

#include "tool_error.h"

namespace files {

enum class TreeEntryKind { File, Folder, Link, Other };

struct TreeEntry {
    std::string path;  // relative to the root, UTF-8, '/' between the parts
    TreeEntryKind kind = TreeEntryKind::Other;
};

// The root itself may be a link (the user named it); nothing below it is
// followed. Entries come folder by folder, in no particular order. Throws
// ToolError when a folder cannot be read or nests deeper than
// kDeepestFolderTree.
std::vector<TreeEntry> ListFolderTree(const std::string& root);

constexpr int kDeepestFolderTree = 256;

}  // namespace files
