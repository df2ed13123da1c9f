// Folders and files on POSIX systems: every folder below the output folder
// is opened relative to its parent with O_NOFOLLOW, so no link on the way
// is ever followed, and files are created and renamed relative to their
// folder's descriptor.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "system_folder.h"

namespace files::system {

struct Folder {
    explicit Folder(int fd) : fd(fd) {}
    ~Folder() { close(fd); }
    int fd;
};

// ---- temporaries an interrupt must remove ---------------------------------------

namespace {

// Read by the signal handler: plain fixed-size slots, no allocation.
struct TemporarySlot {
    std::atomic<int> folder{-1};
    char name[64];
};
TemporarySlot temporaries[4];

void RemoveTemporariesAndDie(int signal) {
    for (TemporarySlot& slot : temporaries) {
        int folder = slot.folder.load();
        if (folder != -1) unlinkat(folder, slot.name, 0);
    }
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void MakeFolders(const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string prefix = path.substr(0, end);
        if (!prefix.empty() && mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            throw ToolError("cannot create the folder " + prefix + ": " + LastSystemError());
        start = end + 1;
    }
}

}  // namespace

int RegisterTemporary(const Folder& folder, const std::string& name) {
    for (int i = 0; i < 4; ++i) {
        if (temporaries[i].folder.load() != -1) continue;
        std::snprintf(temporaries[i].name, sizeof temporaries[i].name, "%s", name.c_str());
        temporaries[i].folder.store(folder.fd);
        return i;
    }
    return -1;
}

void UnregisterTemporary(int slot) {
    if (slot >= 0) temporaries[slot].folder.store(-1);
}

void InstallInterruptCleanup() {
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        // A signal the caller had us ignore (nohup) stays ignored.
        struct sigaction action = {};
        if (sigaction(s, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
        action = {};
        action.sa_handler = RemoveTemporariesAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(s, &action, nullptr);
    }
}

std::string TemporaryPrefix() { return ".zorv-" + std::to_string(getpid()) + "-"; }

// ---- folders --------------------------------------------------------------------

std::shared_ptr<Folder> OpenRoot(const std::string& path) {
    MakeFolders(path);
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot open the folder " + path + ": " + LastSystemError());
    return std::make_shared<Folder>(fd);
}

std::shared_ptr<Folder> OpenChild(const Folder& parent, const std::string& name, const std::string& shown,
                                  bool create) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent.fd, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        if (!create) return nullptr;
        if (mkdirat(parent.fd, name.c_str(), 0777) != 0 && errno != EEXIST)
            throw ToolError("cannot create the folder " + shown + ": " + LastSystemError());
        fd = openat(parent.fd, name.c_str(), flags);
    }
    if (fd < 0) {
        if (WhatStands(parent, name) == Standing::Link) throw ToolError(shown + " is a symbolic link; not followed");
        if (errno == ENOTDIR || errno == ELOOP) throw ToolError(shown + " is not a folder");
        throw ToolError("cannot open the folder " + shown + ": " + LastSystemError());
    }
    return std::make_shared<Folder>(fd);
}

Standing WhatStands(const Folder& folder, const std::string& name) {
    struct stat about;
    if (fstatat(folder.fd, name.c_str(), &about, AT_SYMLINK_NOFOLLOW) != 0) return Standing::Nothing;
    return S_ISREG(about.st_mode) ? Standing::File : S_ISLNK(about.st_mode) ? Standing::Link : Standing::Other;
}

// ---- files ----------------------------------------------------------------------

File CreateIn(const Folder& folder, const std::string& name, bool exclusive, const std::string& shown) {
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    int fd = openat(folder.fd, name.c_str(), flags, 0666);
    if (fd < 0 && exclusive && errno == EEXIST) return kNoFile;
    if (fd < 0) throw ToolError("cannot create a file in " + shown + ": " + LastSystemError());
    return fd;
}

void WriteAll(File file, const uint8_t* data, size_t size, const std::string& shown) {
    while (size > 0) {
        ssize_t written = write(static_cast<int>(file), data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) throw ToolError("cannot write " + shown + ": " + LastSystemError());
        data += written;
        size -= static_cast<size_t>(written);
    }
}

void Sync(File file, const std::string& shown) {
    // EINVAL: a file system without sync, where there is nothing to wait for.
    if (fsync(static_cast<int>(file)) != 0 && errno != EINVAL)
        throw ToolError("cannot write " + shown + ": " + LastSystemError());
}

void Close(File file, const std::string& shown) {
    if (close(static_cast<int>(file)) != 0) throw ToolError("cannot write " + shown + ": " + LastSystemError());
}

void CloseQuietly(File file) { close(static_cast<int>(file)); }

void Remove(const Folder& folder, const std::string& name) { unlinkat(folder.fd, name.c_str(), 0); }

bool Rename(const Folder& folder, const std::string& from, const std::string& to, bool replace,
            const std::string& shown) {
    int renamed;
    if (replace) {
        renamed = renameat(folder.fd, from.c_str(), folder.fd, to.c_str());
    } else {
        renamed = renameat2(folder.fd, from.c_str(), folder.fd, to.c_str(), RENAME_NOREPLACE);
        if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: a hard link fails
            // the same way when the name is taken.
            renamed = linkat(folder.fd, from.c_str(), folder.fd, to.c_str(), 0);
            if (renamed == 0) unlinkat(folder.fd, from.c_str(), 0);
        }
        if (renamed != 0 && errno == EEXIST) return false;
    }
    if (renamed != 0) throw ToolError("cannot rename into " + shown + ": " + LastSystemError());
    return true;
}

}  // namespace files::system
#endif
