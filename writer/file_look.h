// Reading and hashing the files an archive is built from. Planning looks at
// each file once (its size and digest); small files are kept from then on,
// so what was hashed is what is written. Large ones are read again while
// the archive is written and checked against what planning saw.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "byte_sink.h"
#include "content_hash.h"

namespace writer {

// Hashes the bytes written to it, passing them on to `inner` if there is one.
class HashingSink : public ByteSink {
public:
    explicit HashingSink(ByteSink* inner = nullptr) : inner_(inner) {}
    void Write(const uint8_t* data, size_t size) override {
        hash_.Update(data, size);
        if (inner_) inner_->Write(data, size);
    }
    std::string Hex() const { return hash_.FinishHex(); }

private:
    ByteSink* inner_;
    ContentHash hash_;
};

// A file's size and, when asked, its digest; small files are kept.
struct FileLook {
    uint64_t size = 0;
    std::string hash;
    std::shared_ptr<const std::vector<uint8_t>> content;
};

using ProgressCallback = std::function<void(const std::string& label, uint64_t bytes)>;

// Files up to kKeptFileBytes are kept in memory, up to kMostKeptBytes in all.
class FileLooker {
public:
    static constexpr uint64_t kKeptFileBytes = 64 * 1024;
    static constexpr uint64_t kMostKeptBytes = uint64_t{256} << 20;

    explicit FileLooker(const ProgressCallback& onProgress) : onProgress_(onProgress) {}
    FileLook Look(const std::string& path, bool hash);

private:
    const ProgressCallback& onProgress_;
    uint64_t kept_ = 0;
};

// The first bytes of a file, from what was kept or from the disk.
std::vector<uint8_t> Head(const std::string& path, const FileLook& look, size_t count);

// Writes a file's bytes into `sink`: `kept` when planning kept them, else
// the file read again, refused (files::ToolError naming `shown`) unless it still
// has `size` bytes and, when given, the digest `hash`.
void WriteFileBytes(const std::shared_ptr<const std::vector<uint8_t>>& kept, const std::string& path,
                    const std::string& shown, uint64_t size, const std::string* hash, ByteSink& sink);

}  // namespace writer
