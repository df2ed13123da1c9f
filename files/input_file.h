// Files the tools read themselves (archives' stored bytes, headers, the
// files an archive is built from), opened by UTF-8 path: wide calls on
// Windows, so that any name can be opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tool_error.h"

namespace files {

// Whether a symbolic link (on Windows: any reparse point) at the path
// itself may be opened. A folder being built into an archive refuses them,
// so it cannot pull in a file from elsewhere; a path the user typed
// follows them, as every program does.
enum class Links { Follow, Refuse };

class InputFile {
public:
    // A regular file; ToolError ("cannot open: ...") otherwise. Every
    // error it throws is about `path`, as given.
    explicit InputFile(const std::string& path, Links links = Links::Follow);
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    InputFile& operator=(InputFile&&) = delete;

    uint64_t Size() const { return size_; }
    // Up to `count` bytes from `offset`; fewer only at the end of the file.
    std::vector<uint8_t> ReadAt(uint64_t offset, size_t count) const;
    // Exactly `count` bytes into `into`; ToolError when the file is shorter
    // (it changed while it was read).
    void ReadExactly(uint64_t offset, uint8_t* into, size_t count) const;
    // Up to `count` bytes into `into`: how many there were (fewer only at
    // the end of the file).
    size_t ReadSome(uint64_t offset, uint8_t* into, size_t count) const;

private:
    [[noreturn]] void Fail(const std::string& reason) const;

    std::string path_;
#ifdef _WIN32
    void* handle_;
#else
    int fd_;
#endif
    uint64_t size_ = 0;
};

// Many small reads that lie close together (the heads of entries stored
// back to back) through one window: a read per 64 KiB, not one per piece.
class WindowReader {
public:
    explicit WindowReader(const InputFile& file) : file_(file) {}

    // Up to `count` bytes at `offset` (fewer at the end of the file); the
    // pointer holds until the next call.
    const uint8_t* Peek(uint64_t offset, size_t count, size_t* got);

private:
    static constexpr size_t kWindow = 64 * 1024;
    const InputFile& file_;
    uint64_t start_ = 0;
    std::vector<uint8_t> window_;
};

// The whole file; a file larger than `limit` bytes is refused before
// anything is allocated.
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, Links links = Links::Follow);

// What stands at a path (links followed): a folder, a file.
bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);
// Whether the two paths name one and the same existing file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace files
