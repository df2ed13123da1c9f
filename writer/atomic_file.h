// An output file that reaches its name only complete, as a sink for the
// writers: the tools' pending file (written under a temporary name in the
// target's own folder, renamed into place by Commit, removed when
// abandoned or interrupted), with writes gathered into large pieces.
#pragma once

#include <filesystem>
#include <vector>

#include "byte_sink.h"
#include "output_folder.h"  // files::PendingFile

namespace writer {

class AtomicFile : public ByteSink {
public:
    // Creates the temporary file (and the target's folder when missing);
    // throws files::ToolError when it cannot.
    explicit AtomicFile(const std::filesystem::path& target);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(const uint8_t* data, size_t size) override;

    // Flushes the data to the disk and renames the file into place. Without
    // `replaceExisting` an existing target is left as it is and the commit
    // fails. Throws files::ToolError; the temporary is gone either way.
    void Commit(bool replaceExisting);

private:
    void Flush();

    std::string target_;  // UTF-8, for messages
    files::PendingFile file_;
    std::vector<uint8_t> buffer_;
};

}  // namespace writer
