#include "source_file.h"

namespace writer {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::exception& error) {
    throw WriteError("'" + path + "': " + error.what());
}

files::InputFile Open(const std::string& path, files::Links links) {
    try {
        return files::InputFile(path, links);
    } catch (const files::FileError& error) {
        Fail(path, error);
    }
}

}  // namespace

SourceFile::SourceFile(const std::string& path, files::Links links) : path_(path), file_(Open(path, links)) {}

void SourceFile::ReadAt(uint64_t offset, uint8_t* target, size_t count) const {
    try {
        file_.ReadExactly(offset, target, count);
    } catch (const files::FileError& error) {
        Fail(path_, error);
    }
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
    const uint8_t* bytes;
    try {
        bytes = window.Peek(offset, count, &got);
    } catch (const files::FileError& error) {
        Fail(path_, error);
    }
    if (got != count) Fail(path_, files::FileError("read error: the file ends early (did it change while it was read?)"));
    return bytes;
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, uint64_t limit) {
    try {
        return files::ReadWholeFile(path.u8string(), limit, files::Links::Refuse);
    } catch (const files::FileError& error) {
        Fail(path.generic_u8string(), error);
    }
}

}  // namespace writer
