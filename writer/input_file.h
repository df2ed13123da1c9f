// Reading the files the writers take in: whole, in pieces, or at offsets.
// Every failure is a WriteError that names the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "byte_sink.h"

namespace writer {

class InputFile {
public:
    // Opens a regular file for reading, by its UTF-8 path; a symbolic link
    // is refused, so a folder being rebuilt cannot pull in a file from
    // elsewhere.
    explicit InputFile(const std::string& utf8Path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    uint64_t size() const { return size_; }
    // Reads exactly `count` bytes at `offset`; a short read throws.
    void ReadAt(uint64_t offset, uint8_t* target, size_t count);
    // Streams `count` bytes from `offset` into `sink`.
    void CopyTo(ByteSink& sink, uint64_t offset, uint64_t count);

private:
    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

// The whole file; refuses a file larger than `limit` bytes before reading it.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, uint64_t limit);

}  // namespace writer
