#include "source_file.h"

namespace writer {

// The tools' file access names the file in every error it throws.
SourceFile::SourceFile(const std::string& path, files::Links links) : path_(path), file_(path, links) {}

void SourceFile::ReadAt(uint64_t offset, uint8_t* target, size_t count) const {
    file_.ReadExactly(offset, target, count);
}

void SourceFile::CopyTo(ByteSink& sink, uint64_t offset, uint64_t count) const {
    std::vector<uint8_t> buffer(count < (1u << 20) ? static_cast<size_t>(count) : (1u << 20));
    while (count > 0) {
        size_t piece = count < buffer.size() ? static_cast<size_t>(count) : buffer.size();
        ReadAt(offset, buffer.data(), piece);
        sink.Write(buffer.data(), piece);
        offset += piece;
        count -= piece;
    }
}

const uint8_t* SourceFile::Peek(files::WindowReader& window, uint64_t offset, size_t count) const {
    size_t got = 0;
    const uint8_t* bytes = window.Peek(offset, count, &got);
    if (got != count)
        throw files::ToolError("read error: the file ends early (did it change while it was read?)").About(path_);
    return bytes;
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, uint64_t limit) {
    try {
        return files::ReadWholeFile(path.u8string(), limit, files::Links::Refuse);
    } catch (files::ToolError& error) {
        error.About(path.generic_u8string());  // '/' between the parts on every system
        throw;
    }
}

}  // namespace writer
