#include "atomic_file.h"

namespace writer {

namespace {

constexpr size_t kBufferSize = 256 * 1024;

files::PendingFile Create(const std::string& target) {
    try {
        return files::CreateFileAt(target);
    } catch (files::ToolError& error) {
        error.About(target);
        throw;
    }
}

}  // namespace

AtomicFile::AtomicFile(const std::filesystem::path& target)
    : target_(target.u8string()), file_(Create(target_)) {
    buffer_.reserve(kBufferSize);
}

void AtomicFile::Flush() {
    file_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void AtomicFile::Write(const uint8_t* data, size_t size) {
    if (buffer_.size() + size > kBufferSize) Flush();
    if (size >= kBufferSize)
        file_.Write(data, size);
    else
        buffer_.insert(buffer_.end(), data, data + size);
}

void AtomicFile::Commit(bool replaceExisting) {
    Flush();
    file_.Sync();
    if (!file_.Commit(replaceExisting)) throw files::ToolError("exists already").About(target_);
}

}  // namespace writer
