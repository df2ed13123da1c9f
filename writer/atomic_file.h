// An output file that reaches its name only complete: written under a
// temporary name in the target's own folder (so the rename never crosses a
// file system) and renamed into place by Commit. Until then the target is
// untouched; a failure, an exception or destruction without Commit removes
// the temporary.
#pragma once

#include <filesystem>
#include <vector>

#include "byte_sink.h"

namespace writer {

class AtomicFile : public ByteSink {
public:
    // Creates the temporary file; throws WriteError when it cannot.
    explicit AtomicFile(const std::filesystem::path& target);
    ~AtomicFile() override;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(const uint8_t* data, size_t size) override;

    // Flushes the data to the disk and renames the file into place. Without
    // `replaceExisting` an existing target is left as it is and the commit
    // fails. Throws WriteError; the temporary is gone either way.
    void Commit(bool replaceExisting);

    // For a caller that removes temporaries when interrupted by a signal.
    const std::filesystem::path& temporaryPath() const { return temporary_; }

private:
    void Flush();
    void Discard() noexcept;

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    std::vector<uint8_t> buffer_;
};

}  // namespace writer
