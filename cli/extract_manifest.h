// The manifest extraction leaves beside an archive's files: what 'zorv
// build' needs to give the archive back byte for byte, and what each
// extracted file was when it was written.
#pragma once

#include <optional>
#include <string>

#include "archive_contents.h"
#include "commands.h"
#include "manifest.h"
#include "output_folder.h"
#include "plugin_calls.h"

namespace cli {

class ManifestRecorder {
public:
    // Reads what the archive itself says, each entry of the kind the
    // plug-ins' listing gave. When it cannot (the archive is unreadable as
    // the writer reads it, or holds other entries than were listed), there
    // is no manifest: a warning.
    ManifestRecorder(const std::string& archivePath, const host::ArchiveContents& contents, Console& console);

    bool Active() const { return manifest_.has_value(); }

    // What was written for entry `index`, by its path in the archive's folder.
    void RecordFile(uint32_t index, const std::string& relative, host::ByteSpan bytes, bool asWave);
    // The same for a file written in pieces: its size and digest (ContentHashHex).
    void RecordFile(uint32_t index, const std::string& relative, uint64_t size, const std::string& digest,
                    bool asWave);
    void RecordPng(uint32_t index, const std::string& relative, host::ByteSpan bytes);
    void RecordBitCount(uint32_t index, uint16_t bitCount);

    // Writes the manifest into `subfolder` ("" for the folder itself) of
    // `folder`. What an earlier extraction of the same archive recorded
    // there is kept for the entries not written now; a manifest of another
    // archive is replaced only with --overwrite. Returns the relative path
    // written, or an empty text when an existing manifest was kept (with
    // --skip-existing). Throws when the manifest cannot be written.
    std::string Write(files::OutputFolder& folder, const std::string& subfolder, ExistingPolicy existing);

private:
    std::optional<writer::Manifest> manifest_;
};

}  // namespace cli
