#include "extract_manifest.h"

#include <filesystem>

#include "content_hash.h"
#include "names.h"

namespace cli {

namespace {

writer::WrittenFile Written(const std::string& relative, host::ByteSpan bytes) {
    return {relative, bytes.size, writer::ContentHashHex(bytes.data, bytes.size)};
}

// Whether two manifests describe the same archive, entry for entry.
bool SameArchive(const writer::Manifest& a, const writer::Manifest& b) {
    if (a.header != b.header || a.archiveSize != b.archiveSize || a.gap != b.gap || a.tail != b.tail ||
        a.entries.size() != b.entries.size())
        return false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const writer::ManifestEntry &x = a.entries[i], &y = b.entries[i];
        if (x.nameField != y.nameField || x.storedSize != y.storedSize || x.kind != y.kind ||
            x.audioHeader != y.audioHeader || x.audioTrailing != y.audioTrailing)
            return false;
    }
    return true;
}

// Keeps what `earlier` recorded for the entries `now` has nothing of.
void KeepEarlierRecords(writer::Manifest& now, const writer::Manifest& earlier) {
    for (size_t i = 0; i < now.entries.size(); ++i) {
        writer::ManifestEntry& entry = now.entries[i];
        const writer::ManifestEntry& before = earlier.entries[i];
        if (!entry.file && before.file) {
            entry.file = before.file;
            entry.form = before.form;
        }
        if (!entry.converted && before.converted) entry.converted = before.converted;
        if (entry.pictureBitCount == 0) entry.pictureBitCount = before.pictureBitCount;
    }
}

}  // namespace

ManifestRecorder::ManifestRecorder(const std::string& archivePath, const host::ArchiveContents& contents,
                                   Console& console) {
    std::vector<writer::ListedEntry> listing;
    listing.reserve(contents.entries.size());
    for (const host::ArchiveEntry& entry : contents.entries) listing.push_back({entry.storedSize, entry.kind});
    try {
        manifest_ = writer::DescribeArchive(std::filesystem::u8path(archivePath), listing);
    } catch (const std::exception& error) {
        console.Warning(archivePath, "no manifest is written: " + Told(error, archivePath));
        return;
    }
    for (writer::ManifestEntry& entry : manifest_->entries)
        entry.name = host::NameToUtf8(writer::NameFromField(entry.nameField));
    for (const std::string& reason : manifest_->notExact)
        console.Note(archivePath + ": a rebuild cannot give this archive back byte for byte: " + reason);
}

void ManifestRecorder::RecordFile(uint32_t index, const std::string& relative, host::ByteSpan bytes, bool asWave) {
    if (manifest_) RecordFile(index, relative, bytes.size, writer::ContentHashHex(bytes.data, bytes.size), asWave);
}

void ManifestRecorder::RecordFile(uint32_t index, const std::string& relative, uint64_t size,
                                  const std::string& digest, bool asWave) {
    if (!manifest_) return;
    writer::ManifestEntry& entry = manifest_->entries[index];
    // Only what a rebuild can take back: the stored bytes, or coded audio's WAVE.
    const bool wave = asWave && entry.kind == writer::EntryKind::Audio;
    const uint64_t expected = wave ? writer::WaveSizeOf(entry.audioHeader) : entry.storedSize;
    if (size != expected) return;
    entry.file = writer::WrittenFile{relative, size, digest};
    entry.form = wave ? writer::WrittenForm::Wave : writer::WrittenForm::Stored;
}

void ManifestRecorder::RecordPng(uint32_t index, const std::string& relative, host::ByteSpan bytes) {
    if (manifest_ && manifest_->entries[index].kind == writer::EntryKind::Picture)
        manifest_->entries[index].converted = Written(relative, bytes);
}

void ManifestRecorder::RecordBitCount(uint32_t index, uint16_t bitCount) {
    if (manifest_ && manifest_->entries[index].kind == writer::EntryKind::Picture)
        manifest_->entries[index].pictureBitCount = bitCount;
}

std::string ManifestRecorder::Write(files::OutputFolder& folder, const std::string& subfolder, ExistingPolicy existing) {
    if (!manifest_) return {};
    const std::string relative = (subfolder.empty() ? "" : subfolder + "/") + writer::kManifestFileName;
    if (folder.Exists(relative)) {
        std::optional<writer::Manifest> earlier;
        try {
            earlier = writer::ReadManifestFile(std::filesystem::u8path(folder.Path() + "/" + relative));
        } catch (const std::exception&) {  // damaged: not one of ours to keep
        }
        if (earlier && SameArchive(*manifest_, *earlier)) {
            KeepEarlierRecords(*manifest_, *earlier);
        } else if (existing == ExistingPolicy::Skip) {
            return {};
        } else if (existing == ExistingPolicy::Refuse) {
            throw files::ToolError(std::string(writer::kManifestFileName) +
                                   " of another archive is there; not replaced (use --overwrite)");
        }
    }
    // Decided above: one of the same archive is brought up to date, another
    // is replaced only with --overwrite.
    const std::string text = writer::ManifestToJson(*manifest_);
    folder.Put(
        relative, [&](files::PendingFile& file) { file.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()); },
        ExistingPolicy::Overwrite, false);
    return relative;
}

}  // namespace cli
