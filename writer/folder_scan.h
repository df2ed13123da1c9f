// What a folder being built from holds: its regular files, the links that
// are never followed, and what takes no part and why. Hidden paths (a part
// that starts with a dot, at any depth) are listed, since a rebuild's
// manifest may name one, but are never added as new entries.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace writer {

struct ScannedFolder {
    std::filesystem::path root;
    std::vector<std::string> files;  // relative, '/' separated, sorted
    std::vector<char> claimed;       // per file: an entry's, not an added file
    std::set<std::string> links;     // links (on Windows, reparse points), never followed
    std::vector<std::string> ignored;

    // The index of a file, or -1.
    long Find(const std::string& path) const;
    // A file whose path equals `path` but for letter case as the file
    // system compares them, or -1.
    long FindFolded(const std::string& path);
    // True when `path` or a folder above it is a link.
    bool ThroughLink(const std::string& path) const;

private:
    std::unordered_map<std::string, long> byFolded_;
};

// Every regular file under `root`, but for the manifest at its top and
// `output` (the archive being written) when it lies inside. Links are
// listed in `links` and `ignored`, never entered.
ScannedFolder ScanFolder(const std::filesystem::path& root, const std::filesystem::path& output);

// Why a file found in a folder is not added as an entry: "a hidden file",
// "in a hidden folder", or empty when it is added.
std::string WhyHidden(const std::string& relative);

}  // namespace writer
