#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace writer {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw WriteError("cannot read " + Quoted(path) + ": " + what);
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
#ifdef _WIN32
    const fs::path wide = fs::u8path(path);
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(wide, error))) Fail(path, "it is a symbolic link");
    fd_ = _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd_ < 0) Fail(path, std::strerror(errno));
    struct _stat64 status;
    if (_fstat64(fd_, &status) != 0) Fail(path, std::strerror(errno));
#else
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) Fail(path, errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
    struct stat status;
    if (fstat(fd_, &status) != 0) Fail(path, std::strerror(errno));
#endif
    if ((status.st_mode & S_IFMT) != S_IFREG) Fail(path, "it is not a regular file");
    size_ = static_cast<uint64_t>(status.st_size);
}

InputFile::~InputFile() {
    if (fd_ < 0) return;
#ifdef _WIN32
    _close(fd_);
#else
    close(fd_);
#endif
}

void InputFile::ReadAt(uint64_t offset, uint8_t* target, size_t count) {
    while (count > 0) {
        unsigned chunk = count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
#ifdef _WIN32
        if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) Fail(path_, std::strerror(errno));
        int got = _read(fd_, target, chunk);
#else
        ssize_t got = pread(fd_, target, chunk, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
#endif
        if (got < 0) Fail(path_, std::strerror(errno));
        if (got == 0) Fail(path_, "it ended early (did it change while it was read?)");
        target += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
}

void InputFile::CopyTo(ByteSink& sink, uint64_t offset, uint64_t count) {
    std::vector<uint8_t> buffer(count < (1u << 20) ? static_cast<size_t>(count) : (1u << 20));
    while (count > 0) {
        size_t piece = count < buffer.size() ? static_cast<size_t>(count) : buffer.size();
        ReadAt(offset, buffer.data(), piece);
        sink.Write(buffer.data(), piece);
        offset += piece;
        count -= piece;
    }
}

std::vector<uint8_t> ReadWholeFile(const fs::path& path, uint64_t limit) {
    InputFile file(path.u8string());
    if (file.size() > limit)
        throw WriteError("cannot read " + Quoted(path.u8string()) + ": it holds " + std::to_string(file.size()) +
                         " bytes, more than the " + std::to_string(limit) + " it may hold");
    std::vector<uint8_t> bytes(static_cast<size_t>(file.size()));
    file.ReadAt(0, bytes.data(), bytes.size());
    return bytes;
}

}  // namespace writer
