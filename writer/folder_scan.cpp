#include "folder_scan.h"

#include <algorithm>

#include "folder_tree.h"
#include "manifest.h"
#include "path_case.h"

namespace writer {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// `output` relative to `root` when it lies inside it, else empty.
std::string Inside(const fs::path& root, const fs::path& output) {
    if (output.empty()) return {};
    std::error_code error;
    const fs::path relative = fs::weakly_canonical(output, error).lexically_relative(fs::weakly_canonical(root, error));
    const std::string text = relative.generic_u8string();
    return error || text.empty() || text.rfind("..", 0) == 0 ? std::string() : text;
}

}  // namespace

long ScannedFolder::Find(const std::string& path) const {
    auto found = std::lower_bound(files.begin(), files.end(), path);
    return found != files.end() && *found == path ? found - files.begin() : -1;
}

long ScannedFolder::FindFolded(const std::string& path) {
    if (byFolded_.empty())
        for (size_t i = 0; i < files.size(); ++i) byFolded_.emplace(files::FoldPathForFileSystem(files[i]), static_cast<long>(i));
    auto found = byFolded_.find(files::FoldPathForFileSystem(path));
    return found == byFolded_.end() ? -1 : found->second;
}

bool ScannedFolder::ThroughLink(const std::string& path) const {
    if (links.empty()) return false;
    for (size_t slash = path.find('/');; slash = path.find('/', slash + 1)) {
        if (links.count(path.substr(0, slash))) return true;
        if (slash == std::string::npos) return false;
    }
}

std::string WhyHidden(const std::string& relative) {
    const size_t last = relative.rfind('/');
    const size_t name = last == std::string::npos ? 0 : last + 1;
    if (relative[name] == '.') return "a hidden file";
    if (!relative.empty() && relative[0] == '.') return "in a hidden folder";
    return relative.find("/.") < name ? "in a hidden folder" : "";
}

ScannedFolder ScanFolder(const fs::path& root, const fs::path& output) {
    const std::string written = Inside(root, output);
    const std::vector<files::TreeEntry> entries = files::ListFolderTree(root.u8string());
    ScannedFolder folder;
    folder.root = root;
    for (const files::TreeEntry& entry : entries) {
        const std::string& relative = entry.path;
        switch (entry.kind) {
        case files::TreeEntryKind::Folder:
            break;
        case files::TreeEntryKind::Link:
            folder.links.insert(relative);
            folder.ignored.push_back(Quoted(relative) + ": a symbolic link, never followed");
            break;
        case files::TreeEntryKind::Other:
            folder.ignored.push_back(Quoted(relative) + ": not a regular file");
            break;
        case files::TreeEntryKind::File:
            if (relative == written)
                folder.ignored.push_back(Quoted(relative) + ": the archive being written");
            else if (relative != kManifestFileName)
                folder.files.push_back(relative);
            break;
        }
    }
    std::sort(folder.files.begin(), folder.files.end());
    std::sort(folder.ignored.begin(), folder.ignored.end());
    folder.claimed.assign(folder.files.size(), 0);
    return folder;
}

}  // namespace writer
