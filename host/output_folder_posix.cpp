// The output folder on POSIX systems: every folder below the output folder
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
#include <cstring>
#include <utility>

#include "input_file.h"
#include "output_folder.h"
#include "plugin_module.h"

namespace host {

// ---- temporaries an interrupt must remove ---------------------------------------

namespace {

// Read by the signal handler: plain fixed-size slots, no allocation.
struct TemporarySlot {
    std::atomic<int> folder{-1};
    char name[64];
};
TemporarySlot temporaries[4];

int RegisterTemporary(int folder, const std::string& name) {
    for (int i = 0; i < 4; ++i) {
        if (temporaries[i].folder.load() != -1) continue;
        std::snprintf(temporaries[i].name, sizeof temporaries[i].name, "%s", name.c_str());
        temporaries[i].folder.store(folder);
        return i;
    }
    return -1;  // more at once than we track; still never under an entry's name
}

void UnregisterTemporary(int slot) {
    if (slot >= 0) temporaries[slot].folder.store(-1);
}

void RemoveTemporariesAndDie(int signal) {
    for (TemporarySlot& slot : temporaries) {
        int folder = slot.folder.load();
        if (folder != -1) unlinkat(folder, slot.name, 0);
    }
    ::signal(signal, SIG_DFL);
    raise(signal);
}

bool directWrites = false;

}  // namespace

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

void SetDirectWritesForBenchmark(bool direct) { directWrites = direct; }

// ---- folders --------------------------------------------------------------------

struct OutputFolder::Folder {
    explicit Folder(int fd) : fd(fd) {}
    ~Folder() { close(fd); }
    int fd;
};

namespace {

// Splits "a/b/c" into the folder "a/b" and the name "c", refusing parts that
// could leave the folder.
void SplitRelative(const std::string& relative, std::string& folder, std::string& name) {
    size_t start = 0;
    for (;;) {
        size_t end = relative.find('/', start);
        std::string part = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos)
            throw HostError("unsafe output path " + relative);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    size_t cut = relative.rfind('/');
    folder = cut == std::string::npos ? "" : relative.substr(0, cut);
    name = cut == std::string::npos ? relative : relative.substr(cut + 1);
}

void MakeFolders(const std::string& path) {
    std::string prefix;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        prefix = path.substr(0, end);
        if (!prefix.empty() && mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            throw HostError("cannot create the folder " + prefix + ": " + LastSystemError());
        start = end + 1;
    }
}

}  // namespace

OutputFolder::OutputFolder(const std::string& path) : path_(path.empty() ? "." : path) {
    MakeFolders(path_);
    int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw HostError("cannot open the folder " + path_ + ": " + LastSystemError());
    folders_[""] = std::make_shared<Folder>(fd);
}

OutputFolder::~OutputFolder() = default;

std::shared_ptr<OutputFolder::Folder> OutputFolder::OpenFolder(const std::string& relativeFolder, bool create) {
    auto known = folders_.find(relativeFolder);
    if (known != folders_.end()) return known->second;
    // Many folders (names are short, archives have thousands of entries)
    // must not use up the descriptors: forget all but the output folder.
    if (folders_.size() > 64) {
        auto root = folders_[""];
        folders_.clear();
        folders_[""] = root;
    }
    size_t cut = relativeFolder.rfind('/');
    std::string parentPath = cut == std::string::npos ? "" : relativeFolder.substr(0, cut);
    std::string part = cut == std::string::npos ? relativeFolder : relativeFolder.substr(cut + 1);
    std::shared_ptr<Folder> parent = OpenFolder(parentPath, create);
    if (!parent) return nullptr;

    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent->fd, part.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        if (!create) return nullptr;
        if (mkdirat(parent->fd, part.c_str(), 0777) != 0 && errno != EEXIST)
            throw HostError("cannot create the folder " + relativeFolder + ": " + LastSystemError());
        fd = openat(parent->fd, part.c_str(), flags);
    }
    if (fd < 0) {
        struct stat about;
        if (fstatat(parent->fd, part.c_str(), &about, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(about.st_mode))
            throw HostError(relativeFolder + " is a symbolic link; not followed");
        if (errno == ENOTDIR || errno == ELOOP) throw HostError(relativeFolder + " is not a folder");
        throw HostError("cannot open the folder " + relativeFolder + ": " + LastSystemError());
    }
    auto folder = std::make_shared<Folder>(fd);
    folders_[relativeFolder] = folder;
    return folder;
}

bool OutputFolder::Exists(const std::string& relative) {
    std::string folderPath, name;
    SplitRelative(relative, folderPath, name);
    std::shared_ptr<Folder> folder = OpenFolder(folderPath, false);
    if (!folder) return false;
    struct stat about;
    return fstatat(folder->fd, name.c_str(), &about, AT_SYMLINK_NOFOLLOW) == 0;
}

// ---- pending files ----------------------------------------------------------------

struct PendingFile::Impl {
    std::shared_ptr<OutputFolder::Folder> folder;
    std::string name;       // the final name in the folder
    std::string temporary;  // the name while it is written
    std::string shown;      // relative path, for messages
    int fd = -1;
    int slot = -1;
};

PendingFile OutputFolder::Create(const std::string& relative) {
    std::string folderPath, name;
    SplitRelative(relative, folderPath, name);
    auto impl = std::make_unique<PendingFile::Impl>();
    impl->folder = OpenFolder(folderPath, true);
    impl->name = name;
    impl->shown = relative;
    if (directWrites) {
        impl->fd = openat(impl->folder->fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (impl->fd < 0) throw HostError("cannot create " + relative + ": " + LastSystemError());
        return PendingFile(std::move(impl));
    }
    static unsigned serial = 0;
    static const std::string prefix = ".zorv-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; impl->fd < 0; ++attempt) {
        impl->temporary = prefix + std::to_string(++serial) + ".tmp";
        // Known before it exists: a signal that arrives while the file is
        // being created is handled as the call returns, before any code
        // after it could run.
        impl->slot = RegisterTemporary(impl->folder->fd, impl->temporary);
        impl->fd = openat(impl->folder->fd, impl->temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (impl->fd >= 0) break;
        int error = errno;
        UnregisterTemporary(std::exchange(impl->slot, -1));
        errno = error;
        if (error != EEXIST || attempt > 100)
            throw HostError("cannot create a file in " + (folderPath.empty() ? path_ : folderPath) + ": " +
                            LastSystemError());
    }
    return PendingFile(std::move(impl));
}

PendingFile::PendingFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PendingFile::PendingFile(PendingFile&& other) noexcept = default;

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
    if (!impl_) return;
    if (impl_->fd >= 0) close(impl_->fd);
    if (!impl_->temporary.empty()) unlinkat(impl_->folder->fd, impl_->temporary.c_str(), 0);
    UnregisterTemporary(impl_->slot);
    impl_.reset();
}

void PendingFile::Write(const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(impl_->fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) throw HostError("cannot write " + impl_->shown + ": " + LastSystemError());
        data += written;
        size -= static_cast<size_t>(written);
    }
}

bool PendingFile::Commit(bool replace) {
    int fd = std::exchange(impl_->fd, -1);
    if (close(fd) != 0) throw HostError("cannot write " + impl_->shown + ": " + LastSystemError());
    if (impl_->temporary.empty()) {  // written directly
        impl_.reset();
        return true;
    }
    const int folder = impl_->folder->fd;
    const char* from = impl_->temporary.c_str();
    const char* to = impl_->name.c_str();
    int renamed;
    if (replace) {
        struct stat about;
        if (fstatat(folder, to, &about, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(about.st_mode))
            throw HostError(impl_->shown + (S_ISLNK(about.st_mode) ? " is a symbolic link" : " is not a file") +
                            "; not replaced");
        renamed = renameat(folder, from, folder, to);
    } else {
        renamed = renameat2(folder, from, folder, to, RENAME_NOREPLACE);
        if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: a hard link fails
            // the same way when the name is taken.
            renamed = linkat(folder, from, folder, to, 0);
            if (renamed == 0) unlinkat(folder, from, 0);
        }
        if (renamed != 0 && errno == EEXIST) {
            Discard();
            return false;
        }
    }
    if (renamed != 0) throw HostError("cannot rename into " + impl_->shown + ": " + LastSystemError());
    impl_->temporary.clear();
    UnregisterTemporary(impl_->slot);
    impl_.reset();
    return true;
}

}  // namespace host
#endif
