// Archives for the ZorvPack benchmarks, written once per run into a private
// temporary folder that is removed at exit (never into the source tree),
// and the plain listing methods the module is measured against.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "archive_probe.h"
#include "plugin_frame.h"
#include "pw_audio.h"
#include "temp_files.h"

namespace bench_files {

constexpr uint32_t kLargeEntries = 2000;

// The folder and what was written into it, removed at exit.
struct BenchFolder {
    std::string path;
    std::vector<std::string> files;
    ~BenchFolder() {
        for (const std::string& file : files) unlink(file.c_str());
        rmdir(path.c_str());
    }
};

inline BenchFolder& Folder() {
    static BenchFolder folder = [] {
        std::string pattern = temp_files::TempFolder() + "/zorvpack-bench-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) std::abort();
        return BenchFolder{pattern, {}};
    }();
    return folder;
}

inline std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = Folder().path + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || !temp_files::WriteAllAndClose(fd, bytes)) std::abort();
    Folder().files.push_back(path);
    return path;
}

// The many small entries of archive_builder::SmallEntriesRecipe.
inline const std::string& SmallArchive() {
    static std::string path = Write("small.dat", archive_builder::BuildArchive(archive_builder::SmallEntriesRecipe()));
    return path;
}

inline const std::string& TinyArchive() {
    static std::string path = [] {
        archive_builder::ArchiveRecipe recipe;
        recipe.entries = {{"ONE", archive_builder::Bytes(10, 1)}};
        return Write("tiny.dat", archive_builder::BuildArchive(recipe));
    }();
    return path;
}

// 2,000 entries of about 1 MiB each, as a sparse file: only each entry's
// first bytes and the directory are written.
inline const std::string& LargeArchive() {
    static std::string path = [] {
        std::string file = Folder().path + "/large.dat";
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) std::abort();
        Folder().files.push_back(file);
        std::vector<uint8_t> directory(16 * kLargeEntries, 0);
        uint64_t position = 16;
        for (uint32_t i = 0; i < kLargeEntries; ++i) {
            uint32_t size = (1u << 20) - 4096 + (i * 2654435761u) % 8192;
            std::vector<uint8_t> head = archive_builder::Bytes(64, i);
            if (i % 4 == 0) {
                archive_builder::PwRecipe audio;
                audio.codes = archive_builder::Bytes(18, i);
                audio.codeCount = size - 46;
                head = archive_builder::MakePwAudio(audio);
            }
            if (pwrite(fd, head.data(), head.size(), static_cast<off_t>(position)) < 0) std::abort();
            std::string name = "BLOB" + std::to_string(i) + ".PW";
            std::memcpy(&directory[16 * i], name.data(), name.size() < 12 ? name.size() : 12);
            archive_builder::PutLe32(&directory[16 * i + 12], size);
            position += size;
        }
        std::vector<uint8_t> header(16, 0);
        std::memcpy(header.data(), "ZRV00\x1A", 7);
        archive_builder::PutLe16(&header[8], static_cast<uint16_t>(kLargeEntries));
        archive_builder::PutLe32(&header[10], static_cast<uint32_t>(position));
        if (pwrite(fd, header.data(), 16, 0) < 0 ||
            pwrite(fd, directory.data(), directory.size(), static_cast<off_t>(position)) < 0)
            std::abort();
        close(fd);
        return file;
    }();
    return path;
}

// How a plain lister fetches bytes: one seek and one read, or one
// positional read.
class PlainReader {
public:
    explicit PlainReader(const char* path, bool positional) : positional_(positional) {
        if (positional)
            fd_ = open(path, O_RDONLY);
        else
            file_ = OpenForReading(path);
    }
    ~PlainReader() {
        if (positional_)
            close(fd_);
        else
            CloseIfOpen(file_);
    }
    bool Read(uint32_t offset, void* into, uint32_t count) {
        if (positional_) return pread(fd_, into, count, offset) == static_cast<ssize_t>(count);
        return SeekTo(file_, offset) && ReadExactly(file_, into, count);
    }

private:
    bool positional_;
    int fd_ = -1;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

// The listing block a plain lister makes: the same records, each entry's
// first bytes fetched on their own. Null on any failure.
inline HGLOBAL PlainListing(const char* path, bool positional) {
    PlainReader reader(path, positional);
    uint8_t header[16];
    if (!reader.Read(0, header, 16)) return nullptr;
    uint32_t count = ReadLe16(header + 8);
    std::vector<uint8_t> directory(16 * count);
    if (!reader.Read(ReadLe32(header + 10), directory.data(), 16 * count)) return nullptr;
    auto* records = static_cast<ArchiveEntryRecord*>(
        GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, (count ? count : 1) * sizeof(ArchiveEntryRecord)));
    uint32_t position = 16;
    uint8_t head[kPwHeaderSize];
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = &directory[16 * i];
        uint32_t size = ReadLe32(entry + 12);
        uint32_t peek = size < kPwHeaderSize ? size : kPwHeaderSize;
        if (peek > 0 && !reader.Read(position, head, peek)) {
            GlobalFree(records);
            return nullptr;
        }
        ArchiveEntryRecord& record = records[i];
        std::memcpy(record.method, "ZorvPack", 8);
        // Empty entries are listed at 0, where no entry with bytes starts.
        record.position = size == 0 ? 0 : position;
        record.packedSize = size;
        uint32_t outputSize = 0;
        ClassifyEntry(head, size, &outputSize);
        record.outputSize = outputSize;
        for (int k = 0; k < 12 && entry[k] != 0; ++k) record.fileName[k] = static_cast<char>(entry[k]);
        position += size;
    }
    HGLOBAL listing = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (count + 1) * sizeof(ArchiveEntryRecord));
    std::memcpy(GlobalLock(listing), records, count * sizeof(ArchiveEntryRecord));
    GlobalUnlock(listing);
    GlobalFree(records);
    return listing;
}

}  // namespace bench_files
