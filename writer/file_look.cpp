#include "file_look.h"

#include <algorithm>

#include "source_file.h"

namespace writer {

FileLook FileLooker::Look(const std::string& path, bool hash) {
    SourceFile file(path);
    FileLook look;
    look.size = file.size();
    if (onProgress_) onProgress_(path, look.size);
    if (look.size <= kKeptFileBytes && kept_ + look.size <= kMostKeptBytes) {
        auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(look.size));
        file.ReadAt(0, bytes->data(), bytes->size());
        kept_ += look.size;
        if (hash) look.hash = ContentHashHex(bytes->data(), bytes->size());
        look.content = std::move(bytes);
    } else if (hash) {
        HashingSink digest;
        file.CopyTo(digest, 0, look.size);
        look.hash = digest.Hex();
    }
    return look;
}

std::vector<uint8_t> Head(const std::string& path, const FileLook& look, size_t count) {
    count = static_cast<size_t>(std::min<uint64_t>(count, look.size));
    if (look.content) return std::vector<uint8_t>(look.content->begin(), look.content->begin() + count);
    std::vector<uint8_t> head(count);
    SourceFile(path).ReadAt(0, head.data(), count);
    return head;
}

void WriteFileBytes(const std::shared_ptr<const std::vector<uint8_t>>& kept, const std::string& path,
                    const std::string& shown, uint64_t size, const std::string* hash, ByteSink& sink) {
    if (kept) {
        sink.Write(kept->data(), kept->size());
        return;
    }
    const std::string changed = "'" + shown + "' changed while the archive was written";
    SourceFile file(path);
    if (file.size() != size) throw files::ToolError(changed);
    if (!hash) {
        file.CopyTo(sink, 0, size);
        return;
    }
    HashingSink hashing(&sink);
    file.CopyTo(hashing, 0, size);
    if (hashing.Hex() != *hash) throw files::ToolError(changed);
}

}  // namespace writer
