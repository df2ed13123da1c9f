// Files the host reads itself (headers, stored bytes), opened by UTF-8
// path: wide calls on Windows, so that any name can be opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

class InputFile {
public:
    // HostError ("cannot open: ...") when the file cannot be read.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    uint64_t Size() const { return size_; }
    // Up to `count` bytes from `offset`; fewer only at the end of the file.
    std::vector<uint8_t> ReadAt(uint64_t offset, size_t count) const;
    // Exactly `count` bytes into `into`; HostError when the file is shorter.
    void ReadExactly(uint64_t offset, uint8_t* into, size_t count) const;

private:
    size_t ReadSome(uint64_t offset, uint8_t* into, size_t count) const;
#ifdef _WIN32
    void* handle_;
#else
    int fd_;
#endif
    uint64_t size_ = 0;
};

// What stands at a path (links followed): a folder, a file.
bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);
// Whether the two paths name one and the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// The text the system gives for the last error of a file call, lower-case
// first letter, as in "cannot open: no such file or directory".
std::string LastSystemError();

}  // namespace host
