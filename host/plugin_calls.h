// The two plug-ins as a host calls them: through their exports only, with
// the records of the frame, and with every handle they hand over owned by
// the host until it frees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin_frame.h"
#include "plugin_module.h"

namespace host {

struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// A movable block a plug-in handed over. The host owns it: it is unlocked
// and freed when this goes.
class HostBlock {
public:
    explicit HostBlock(HGLOBAL handle = nullptr);
    ~HostBlock();
    HostBlock(HostBlock&& other) noexcept;
    HostBlock& operator=(HostBlock&& other) noexcept;
    HostBlock(const HostBlock&) = delete;
    HostBlock& operator=(const HostBlock&) = delete;

    // The block's bytes, locked until the block goes. An empty block (which
    // cannot be locked) has none. ToolError when a block with bytes cannot
    // be locked.
    ByteSpan Bytes();

private:
    void Release();
    HGLOBAL handle_ = nullptr;
    const uint8_t* locked_ = nullptr;
};

// GetPicture's two parts: the info header with its table or masks, and the
// pixel bits.
struct PictureParts {
    HostBlock info;
    HostBlock bits;
};

class PicturePlugin {
public:
    PicturePlugin();

    // How many leading bytes of a file IsSupported gets in memory.
    static constexpr size_t kProbeBytes = 2048;
    // The viewer's probe: the file's first bytes in memory (at least
    // kProbeBytes, zero-padded behind a shorter file). `path` is UTF-8.
    bool IsSupported(const std::string& path, const uint8_t* head);
    // Those bytes of a file, read by the host; ToolError when it cannot be read.
    static std::vector<uint8_t> ReadHead(const std::string& path);

    // From a file by its UTF-8 path, or from a memory image of a whole file.
    // A ToolError of kind PluginRefused when the plug-in does not answer Ok
    // (about the file, when it was given by path).
    PictureParts GetPicture(const std::string& path);
    PictureParts GetPicture(const uint8_t* image, size_t size);

    // The picture's record (size, colour depth) from a memory image of a
    // whole file, without handing its pixels over. PluginRefused unless Ok.
    PictureInfoRecord GetPictureInfo(const uint8_t* image, size_t size);

private:
    PictureParts Call(const char* source, int32_t length, uint32_t flags, const std::string& path);

    PluginModule module_;
    int32_t(WINAPI* isSupported_)(const char*, uintptr_t);
    int32_t(WINAPI* getPicture_)(const char*, int32_t, uint32_t, HGLOBAL*, HGLOBAL*,
                                 ProgressCallback, intptr_t);
    int32_t(WINAPI* getPictureInfo_)(const char*, int32_t, uint32_t, PictureInfoRecord*);
};

// An archive's listing, read where the plug-in handed it over: the records
// up to the one whose first byte is 0, and never past the block. A copy of
// 65,535 records would be 28 MB more.
class ArchiveListing {
public:
    explicit ArchiveListing(HostBlock block);

    size_t size() const { return count_; }
    // Record i (i < size()), copied out: the block need not be aligned for it.
    ArchiveEntryRecord operator[](size_t i) const;

private:
    HostBlock block_;
    const uint8_t* records_ = nullptr;
    size_t count_ = 0;
};

class ArchivePlugin {
public:
    ArchivePlugin();

    bool IsSupported(const std::string& path);

    // The listing, in directory order. PluginRefused unless Ok.
    ArchiveListing List(const std::string& path);

    // Called with the plug-in's progress reports (step of total); false asks
    // it to stop, and GetFile then fails with Aborted.
    using Progress = std::function<bool(int32_t step, int32_t total)>;

    // The entry at `position` as the plug-in delivers it (coded audio as a
    // WAVE image). PluginRefused unless Ok.
    HostBlock GetFile(const std::string& path, uint32_t position, const Progress* progress);

private:
    PluginModule module_;
    int32_t(WINAPI* isSupported_)(const char*, uintptr_t);
    int32_t(WINAPI* getArchiveInfo_)(const char*, int32_t, uint32_t, HGLOBAL*);
    int32_t(WINAPI* getFile_)(const char*, uint32_t, HGLOBAL*, uint32_t, ProgressCallback, intptr_t);
};

// The entry's full name bytes as a viewer forms it: its folder part (if
// the plug-in gives one) and its file name, each up to its terminator.
std::string EntryNameBytes(const ArchiveEntryRecord& record);

}  // namespace host
