// The files the writers take in, read through the tools' file access.
// Every failure is a files::ToolError about the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "byte_sink.h"
#include "input_file.h"  // files::InputFile

namespace writer {

class SourceFile {
public:
    // Symbolic links are refused unless asked for: a folder being rebuilt
    // must not pull in a file from elsewhere.
    explicit SourceFile(const std::string& utf8Path, files::Links links = files::Links::Refuse);

    uint64_t size() const { return file_.Size(); }
    // Reads exactly `count` bytes at `offset`; a short read throws.
    void ReadAt(uint64_t offset, uint8_t* target, size_t count) const;
    // Streams `count` bytes from `offset` into `sink`.
    void CopyTo(ByteSink& sink, uint64_t offset, uint64_t count) const;
    // Exactly `count` bytes at `offset` through `window`, for many small
    // reads close together; valid until the next.
    const uint8_t* Peek(files::WindowReader& window, uint64_t offset, size_t count) const;
    const files::InputFile& file() const { return file_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    files::InputFile file_;
};

// The whole file; refuses a file larger than `limit` bytes before reading it.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, uint64_t limit);

}  // namespace writer
