// The folder scan on POSIX systems: each folder is opened relative to its
// parent's descriptor with O_NOFOLLOW and judged by fstatat without
// following, so a link swapped in anywhere is never entered.
#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "folder_tree.h"

namespace files {

namespace {

[[noreturn]] void CannotRead(const std::string& root, const std::string& relative) {
    throw ToolError("cannot read the folder " + (relative.empty() ? root : root + "/" + relative) + ": " +
                    LastSystemError());
}

TreeEntryKind KindOf(const struct stat& about) {
    if (S_ISREG(about.st_mode)) return TreeEntryKind::File;
    if (S_ISDIR(about.st_mode)) return TreeEntryKind::Folder;
    if (S_ISLNK(about.st_mode)) return TreeEntryKind::Link;
    return TreeEntryKind::Other;
}

// Lists the folder open as `fd` (and takes it over), entering sub-folders.
void ListInto(int fd, const std::string& root, const std::string& relative, int depth, std::vector<TreeEntry>& out) {
    DIR* folder = fdopendir(fd);
    if (!folder) {
        close(fd);
        CannotRead(root, relative);
    }
    std::vector<std::string> subfolders;
    errno = 0;
    for (struct dirent* entry; (entry = readdir(folder)) != nullptr; errno = 0) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct stat about;
        if (fstatat(fd, name, &about, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone since
        const std::string path = relative.empty() ? name : relative + "/" + name;
        out.push_back(TreeEntry{path, KindOf(about)});
        if (out.back().kind == TreeEntryKind::Folder) subfolders.push_back(name);
    }
    const int readError = errno;
    if (readError != 0) {
        closedir(folder);
        errno = readError;
        CannotRead(root, relative);
    }
    for (const std::string& name : subfolders) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        if (depth + 1 > kDeepestFolderTree) {
            closedir(folder);
            throw ToolError("the folder " + root + "/" + path + " lies deeper than " +
                            std::to_string(kDeepestFolderTree) + " folders");
        }
        const int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
            closedir(folder);
            CannotRead(root, path);
        }
        try {
            ListInto(child, root, path, depth + 1, out);
        } catch (...) {
            closedir(folder);
            throw;
        }
    }
    closedir(folder);
}

}  // namespace

std::vector<TreeEntry> ListFolderTree(const std::string& root) {
    const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) CannotRead(root, "");
    std::vector<TreeEntry> out;
    ListInto(fd, root, "", 0, out);
    return out;
}

}  // namespace files
#endif
