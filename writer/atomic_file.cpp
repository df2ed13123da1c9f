#include "atomic_file.h"

namespace writer {

namespace {

constexpr size_t kBufferSize = 256 * 1024;

files::PendingFile Create(const std::string& target) {
    try {
        return files::CreateFileAt(target);
    } catch (const files::FileError& error) {
        throw WriteError("cannot create '" + target + "': " + error.what());
    }
}

}  // namespace

AtomicFile::AtomicFile(const std::filesystem::path& target)
    : shown_("'" + target.u8string() + "'"), file_(Create(target.u8string())) {
    buffer_.reserve(kBufferSize);
}

void AtomicFile::Flush() {
    try {
        file_.Write(buffer_.data(), buffer_.size());
    } catch (const files::FileError& error) {
        throw WriteError(error.what());
    }
    buffer_.clear();
}

void AtomicFile::Write(const uint8_t* data, size_t size) {
    if (buffer_.size() + size > kBufferSize) Flush();
    if (size >= kBufferSize) {
        try {
            file_.Write(data, size);
        } catch (const files::FileError& error) {
            throw WriteError(error.what());
        }
        return;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

void AtomicFile::Commit(bool replaceExisting) {
    Flush();
    bool committed;
    try {
        file_.Sync();
        committed = file_.Commit(replaceExisting);
    } catch (const files::FileError& error) {
        throw WriteError(error.what());
    }
    if (!committed) throw WriteError(shown_ + " exists already");
}

}  // namespace writer
