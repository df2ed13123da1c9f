// A native host of both plug-ins for the writer's tests: it loads them as a
// viewer does and reads what the writer made only through their exports,
// and it extracts an archive with its manifest as `zorv extract` does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "manifest.h"

namespace writer_test {

struct PictureDelivery {
    int32_t result = -1;
    std::vector<uint8_t> info;
    std::vector<uint8_t> bits;
};

// GetPicture on a packed picture file held in memory.
PictureDelivery GetPictureOf(const std::vector<uint8_t>& packed);

struct ListedEntry {
    std::string name;
    uint32_t position;
    uint32_t packedSize;
    uint32_t outputSize;
};

// GetArchiveInfo; throws std::runtime_error unless it answers Ok.
std::vector<ListedEntry> ListArchive(const std::string& archive);
// GetFile by the listed position; throws std::runtime_error unless Ok.
std::vector<uint8_t> GetEntry(const std::string& archive, uint32_t position);

// Every entry as the plug-in delivers it, written under its safe name into
// `folder` (coded audio as .wav), with the manifest beside them.
writer::Manifest ExtractWithManifest(const std::string& archive, const std::filesystem::path& folder);

// False while the coded-audio encoder is a placeholder: tests that need
// it skip.
bool HaveAudioEncoder();

// A private folder, removed with all it holds.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path Write(const std::string& relative, const std::vector<uint8_t>& bytes) const;

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);

}  // namespace writer_test
