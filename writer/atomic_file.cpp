#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace writer {

namespace fs = std::filesystem;

namespace {

constexpr size_t kBufferSize = 256 * 1024;

std::string Describe(const fs::path& path) { return "'" + path.u8string() + "'"; }

int CreateExclusive(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
#ifdef _WIN32
        int written = _write(fd, data, chunk);
#else
        ssize_t written = ::write(fd, data, chunk);
        if (written < 0 && errno == EINTR) continue;
#endif
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool SyncAndClose(int fd) {
#ifdef _WIN32
    bool synced = _commit(fd) == 0;
    return _close(fd) == 0 && synced;
#else
    bool synced = fsync(fd) == 0 || errno == EINVAL;  // EINVAL: a file system without sync
    return close(fd) == 0 && synced;
#endif
}

void CloseQuietly(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

// Renames without replacing: fails, leaving both files, when the target exists.
bool RenameNoReplace(const fs::path& from, const fs::path& to, int* error) {
#ifdef _WIN32
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    *error = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EIO;
    return false;
#else
    // A hard link is the portable atomic "create only if absent".
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    *error = errno;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS) return false;
    // File systems without hard links: the check and the rename are two steps.
    struct stat existing;
    if (lstat(to.c_str(), &existing) == 0) {
        *error = EEXIST;
        return false;
    }
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    *error = errno;
    return false;
#endif
}

bool RenameReplacing(const fs::path& from, const fs::path& to, int* error) {
#ifdef _WIN32
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    *error = EIO;
    return false;
#else
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    *error = errno;
    return false;
#endif
}

}  // namespace

AtomicFile::AtomicFile(const fs::path& target) : target_(target) {
    std::mt19937_64 random(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                           reinterpret_cast<uintptr_t>(this));
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        temporary_ = folder / fs::u8path("." + target.filename().u8string() + suffix);
        fd_ = CreateExclusive(temporary_);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0)
        throw WriteError("cannot create a file in " + Describe(folder) + ": " + std::strerror(errno));
    buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Discard() noexcept {
    if (fd_ >= 0) CloseQuietly(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        temporary_.clear();
    }
}

void AtomicFile::Flush() {
    if (fd_ < 0) throw WriteError("writing " + Describe(target_) + " after it was closed");
    if (!buffer_.empty() && !WriteAll(fd_, buffer_.data(), buffer_.size())) {
        int error = errno;
        Discard();
        throw WriteError("cannot write " + Describe(target_) + ": " + std::strerror(error));
    }
    buffer_.clear();
}

void AtomicFile::Write(const uint8_t* data, size_t size) {
    if (fd_ < 0) throw WriteError("writing " + Describe(target_) + " after it was closed");
    if (buffer_.size() + size > kBufferSize) Flush();
    if (size >= kBufferSize) {
        if (!WriteAll(fd_, data, size)) {
            int error = errno;
            Discard();
            throw WriteError("cannot write " + Describe(target_) + ": " + std::strerror(error));
        }
        return;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

void AtomicFile::Commit(bool replaceExisting) {
    Flush();
    int fd = fd_;
    fd_ = -1;
    if (!SyncAndClose(fd)) {
        int error = errno;
        Discard();
        throw WriteError("cannot write " + Describe(target_) + ": " + std::strerror(error));
    }
    int error = 0;
    bool renamed = replaceExisting ? RenameReplacing(temporary_, target_, &error)
                                   : RenameNoReplace(temporary_, target_, &error);
    if (!renamed) {
        Discard();
        throw WriteError(error == EEXIST ? Describe(target_) + " exists already"
                                         : "cannot create " + Describe(target_) + ": " + std::strerror(error));
    }
    temporary_.clear();
}

}  // namespace writer
