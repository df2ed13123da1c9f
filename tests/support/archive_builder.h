// Fixtures for the archive plug-in: ZrvArchive files built in memory, coded
// audio entries with the WAVE images expected from them, and a folder of
// its own to put archives in under chosen names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace archive_builder {

struct Entry {
    std::string name;           // stored in the 12-byte field, cut to 12
    std::vector<uint8_t> data;  // stored bytes
    // Size written to the directory when it must differ from data.size()
    // (entries that reach past the end of the file).
    int64_t declaredSize = -1;

    uint32_t Size() const {
        return declaredSize < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(declaredSize);
    }
};

// Header, entry data back to back from offset 16, then the directory.
struct ArchiveRecipe {
    std::string signature = "ZRV01";  // five characters, followed by 0x1A 0x00
    uint8_t byte7 = 0x5A;             // never examined by readers
    std::vector<Entry> entries;
    std::vector<uint8_t> tail;        // bytes behind the directory
    // The directory is stored as the data of entry 0 (whose own data is
    // ignored), so the last entry's data ends the file.
    bool directoryInFirstEntry = false;
};

std::vector<uint8_t> BuildArchive(const ArchiveRecipe& recipe);

// Each entry's size in the directory.
std::vector<uint32_t> StoredSizes(const ArchiveRecipe& recipe);
// Where each entry's data lies by the format's rule: 16 plus the declared
// sizes before it, summed in 32 bits.
std::vector<uint32_t> DataOffsets(const ArchiveRecipe& recipe);
// The position each entry is listed and extracted by: its data offset, or 0
// for an empty entry, which would otherwise share its offset with the next.
std::vector<uint32_t> EntryPositions(const ArchiveRecipe& recipe);

// Header fields: entry count at 8 (u16), directory offset at 10 (u32).
uint32_t DirectoryOffset(const std::vector<uint8_t>& archive);
void SetHeader(std::vector<uint8_t>& archive, uint16_t entryCount, uint32_t directoryOffset);
void PutLe16(uint8_t* p, uint16_t value);
void PutLe32(uint8_t* p, uint32_t value);

// A coded audio entry: 46-byte header with deliberately wrong byte rate,
// block align and bits (readers must recompute them), then the codes and
// `trailing` filler bytes. codeCount < 0 stores codes.size() as N.
struct PwRecipe {
    uint16_t channels = 1;
    uint32_t rate = 22050;
    std::vector<uint8_t> codes;
    int64_t codeCount = -1;
    size_t trailing = 0;
    uint16_t formatTag = 1;
    uint32_t formatLength = 18;
    uint16_t extraLength = 0;
};
std::vector<uint8_t> MakePwAudio(const PwRecipe& recipe);

// The WAVE image a correct converter makes of a well-formed audio entry.
std::vector<uint8_t> ExpectedWave(const std::vector<uint8_t>& entry);

// The sample each code decodes to, from the test side's own copy of the table.
int16_t ExpectedSample(uint8_t code);

// Deterministic filler bytes.
std::vector<uint8_t> Bytes(size_t size, uint32_t seed);

// The benchmarks' archive of many small entries, also what zorv's tests and
// benchmarks extract: 65,535 entries of 0 to 200 bytes; every 50th is a short
// audio entry and every 97th is empty (so positions repeat).
constexpr uint32_t kSmallEntryCount = 65535;
ArchiveRecipe SmallEntriesRecipe();

// A private folder in the temporary folder, removed with all it holds.
class ArchiveFolder {
public:
    ArchiveFolder();
    ~ArchiveFolder();
    ArchiveFolder(const ArchiveFolder&) = delete;
    ArchiveFolder& operator=(const ArchiveFolder&) = delete;

    // Writes (or rewrites) a file of the folder; returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes);
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> names_;
};

}  // namespace archive_builder
