#include "input_file.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>

#include "wide_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace files {

#ifdef _WIN32
std::string LastSystemError() {
    // Our own words for the common cases, so messages read alike everywhere.
    DWORD error = GetLastError();
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return "no such file or directory";
        case ERROR_ACCESS_DENIED: return "permission denied";
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return "file exists";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return "no space left on device";
        default: return "system error " + std::to_string(error);
    }
}

InputFile::InputFile(const std::string& path, Links links) : path_(path) {
    // With Refuse the link itself is opened, and then seen for what it is.
    const DWORD flags = FILE_FLAG_SEQUENTIAL_SCAN | (links == Links::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    handle_ = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) Fail("cannot open: " + LastSystemError());
    LARGE_INTEGER size;
    BY_HANDLE_FILE_INFORMATION about;
    const char* refused = nullptr;
    // A pipe, a console or a device is no file on a disk: reading one may wait.
    if (GetFileType(handle_) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle_, &about) ||
        (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(handle_, &size))
        refused = "cannot open: not a regular file";
    else if (about.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT && links == Links::Refuse)
        refused = "cannot open: it is a symbolic link";
    if (refused) {
        CloseHandle(handle_);
        Fail(refused);
    }
    size_ = static_cast<uint64_t>(size.QuadPart);
}

InputFile::~InputFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)), size_(other.size_) {}

size_t InputFile::ReadSome(uint64_t offset, uint8_t* into, size_t count) const {
    size_t done = 0;
    while (done < count) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD chunk = static_cast<DWORD>(count - done < (1u << 30) ? count - done : (1u << 30));
        DWORD got = 0;
        if (!ReadFile(handle_, into + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            Fail("read error: " + LastSystemError());
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
bool Identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& about) {
    HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(h, &about) != 0;
    CloseHandle(h);
    return ok;
}
}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return Identity(a, x) && Identity(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}
#else
std::string LastSystemError() {
    std::string text = std::strerror(errno);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] > 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

namespace {

// What stands at a path that is not a regular file, for the message.
const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder, not a regular file";
    if (S_ISFIFO(mode)) return "a named pipe, not a regular file";
    if (S_ISSOCK(mode)) return "a socket, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
    return "not a regular file";
}

}  // namespace

InputFile::InputFile(const std::string& path, Links links) : path_(path) {
    // Without O_NONBLOCK, opening a named pipe waits for a writer, perhaps
    // for ever; it is refused below before anything is read from it.
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0));
    if (fd_ < 0 && errno == ELOOP && links == Links::Refuse) Fail("cannot open: it is a symbolic link");
    if (fd_ < 0) Fail("cannot open: " + LastSystemError());
    struct stat about;
    const bool statted = fstat(fd_, &about) == 0;
    if (!statted || !S_ISREG(about.st_mode)) {
        const std::string why = statted ? KindOf(about.st_mode) : LastSystemError();
        close(fd_);
        Fail("cannot open: " + why);
    }
    const int status = fcntl(fd_, F_GETFL);
    if (status >= 0) fcntl(fd_, F_SETFL, status & ~O_NONBLOCK);
    size_ = static_cast<uint64_t>(about.st_size);
}

InputFile::~InputFile() {
    if (fd_ >= 0) close(fd_);
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

size_t InputFile::ReadSome(uint64_t offset, uint8_t* into, size_t count) const {
    size_t done = 0;
    while (done < count) {
        ssize_t got = pread(fd_, into + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail("read error: " + LastSystemError());
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool IsFolder(const std::string& path) {
    struct stat about;
    return stat(path.c_str(), &about) == 0 && S_ISDIR(about.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat about;
    return stat(path.c_str(), &about) == 0 && !S_ISDIR(about.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}
#endif

void InputFile::Fail(const std::string& reason) const { throw ToolError(reason).About(path_); }

std::vector<uint8_t> InputFile::ReadAt(uint64_t offset, size_t count) const {
    if (offset >= size_) return {};
    if (count > size_ - offset) count = static_cast<size_t>(size_ - offset);
    std::vector<uint8_t> bytes(count);
    bytes.resize(ReadSome(offset, bytes.data(), count));
    return bytes;
}

void InputFile::ReadExactly(uint64_t offset, uint8_t* into, size_t count) const {
    if (offset > size_ || count > size_ - offset || ReadSome(offset, into, count) != count)
        Fail("read error: the file ends early (did it change while it was read?)");
}

const uint8_t* WindowReader::Peek(uint64_t offset, size_t count, size_t* got) {
    // Nothing to read (an empty entry, listed at 0 say): the window stays
    // where the reading goes on, instead of being read again from there.
    if (count == 0) {
        *got = 0;
        return window_.data();
    }
    if (offset < start_ || offset - start_ > window_.size() || count > window_.size() - (offset - start_)) {
        // Into the same buffer each time: a new one per window costs more
        // than the read when the windows are many.
        start_ = offset;
        window_.resize(count > kWindow ? count : kWindow);
        window_.resize(file_.ReadSome(offset, window_.data(), window_.size()));
    }
    const size_t from = static_cast<size_t>(offset - start_);
    const size_t have = window_.size() > from ? window_.size() - from : 0;
    *got = count < have ? count : have;
    return window_.data() + from;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, Links links) {
    InputFile file(path, links);
    if (file.Size() > limit)
        throw ToolError("cannot read: it holds " + std::to_string(file.Size()) + " bytes, more than the " +
                        std::to_string(limit) + " it may hold")
            .About(path);
    std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
    file.ReadExactly(0, bytes.data(), bytes.size());
    return bytes;
}

}  // namespace files
