#include "plugin_calls.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "input_file.h"
#include "plugin_path.h"

namespace host {
namespace {

// What a result code means, for messages.
std::string ResultText(int32_t result) {
    switch (result) {
        case Ok: return "done";
        case Aborted: return "stopped";
        case UnsupportedFormat: return "not in the plug-in's format";
        case NoMemory: return "out of memory";
        case ReadError: return "read error";
        case NotImplemented: return "not supported by the plug-in";
        default: return "unexpected result " + std::to_string(result);
    }
}

// `path`: the file the plug-in read, empty for a memory image.
void Check(int32_t result, const char* call, const std::string& path = {}) {
    if (result != Ok)
        throw files::ToolError(std::string(call) + " failed: " + ResultText(result), files::ErrorKind::PluginRefused,
                               result)
            .About(path);
}

// A memory image's length as the plug-in's int32 takes it.
int32_t ImageLength(size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw files::ToolError("picture too large for the plug-in");
    return static_cast<int32_t>(size);
}

template <class Fn>
Fn ExportOf(const PluginModule& module, const char* name) {
    return reinterpret_cast<Fn>(module.Export(name));
}

}  // namespace

// ---- handed-over blocks -------------------------------------------------------

HostBlock::HostBlock(HGLOBAL handle) : handle_(handle) {}

HostBlock::~HostBlock() { Release(); }

HostBlock::HostBlock(HostBlock&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), locked_(std::exchange(other.locked_, nullptr)) {}

HostBlock& HostBlock::operator=(HostBlock&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = std::exchange(other.handle_, nullptr);
        locked_ = std::exchange(other.locked_, nullptr);
    }
    return *this;
}

void HostBlock::Release() {
    if (handle_ == nullptr) return;
    if (locked_ != nullptr) GlobalUnlock(handle_);
    GlobalFree(handle_);
    handle_ = nullptr;
    locked_ = nullptr;
}

ByteSpan HostBlock::Bytes() {
    if (handle_ == nullptr) return {};
    size_t size = GlobalSize(handle_);
    if (size == 0) return {};  // an empty movable block cannot be locked
    if (locked_ == nullptr) {
        locked_ = static_cast<const uint8_t*>(GlobalLock(handle_));
        if (locked_ == nullptr) throw files::ToolError("a block handed over by the plug-in cannot be locked");
    }
    return {locked_, size};
}

// ---- pictures -----------------------------------------------------------------

PicturePlugin::PicturePlugin() : module_(PluginKind::Picture) {
    isSupported_ = ExportOf<decltype(isSupported_)>(module_, "IsSupported");
    getPicture_ = ExportOf<decltype(getPicture_)>(module_, "GetPicture");
    getPictureInfo_ = ExportOf<decltype(getPictureInfo_)>(module_, "GetPictureInfo");
}

bool PicturePlugin::IsSupported(const std::string& path, const uint8_t* head) {
    // The probe reads the file by name only for addresses below 0x10000,
    // which no real buffer has.
    std::string pluginPath = PathForPlugin(path);
    return isSupported_(pluginPath.c_str(), reinterpret_cast<uintptr_t>(head)) == 1;
}

std::vector<uint8_t> PicturePlugin::ReadHead(const std::string& path) {
    std::vector<uint8_t> head = files::InputFile(path).ReadAt(0, kProbeBytes);
    head.resize(kProbeBytes, 0);
    return head;
}

PictureParts PicturePlugin::Call(const char* source, int32_t length, uint32_t flags, const std::string& path) {
    HGLOBAL info = nullptr, bits = nullptr;
    int32_t result = getPicture_(source, length, flags, &info, &bits, nullptr, 0);
    // Whatever arrived belongs to the host now, also on failure.
    PictureParts parts{HostBlock(result == Ok ? info : nullptr), HostBlock(result == Ok ? bits : nullptr)};
    Check(result, "GetPicture", path);
    return parts;
}

PictureParts PicturePlugin::GetPicture(const std::string& path) {
    return Call(PathForPlugin(path).c_str(), 0, 0, path);
}

PictureParts PicturePlugin::GetPicture(const uint8_t* image, size_t size) {
    return Call(reinterpret_cast<const char*>(image), ImageLength(size), SourceInMemory, {});
}

PictureInfoRecord PicturePlugin::GetPictureInfo(const uint8_t* image, size_t size) {
    PictureInfoRecord record = {};
    Check(getPictureInfo_(reinterpret_cast<const char*>(image), ImageLength(size), SourceInMemory, &record),
          "GetPictureInfo");
    return record;
}

// ---- archives -----------------------------------------------------------------

ArchivePlugin::ArchivePlugin() : module_(PluginKind::Archive) {
    isSupported_ = ExportOf<decltype(isSupported_)>(module_, "IsSupported");
    getArchiveInfo_ = ExportOf<decltype(getArchiveInfo_)>(module_, "GetArchiveInfo");
    getFile_ = ExportOf<decltype(getFile_)>(module_, "GetFile");
}

bool ArchivePlugin::IsSupported(const std::string& path) {
    std::string pluginPath = PathForPlugin(path);
    return isSupported_(pluginPath.c_str(), 0) == 1;
}

ArchiveListing::ArchiveListing(HostBlock block) : block_(std::move(block)) {
    ByteSpan bytes = block_.Bytes();
    records_ = bytes.data;
    while ((count_ + 1) * sizeof(ArchiveEntryRecord) <= bytes.size && records_[count_ * sizeof(ArchiveEntryRecord)] != 0)
        ++count_;
}

ArchiveEntryRecord ArchiveListing::operator[](size_t i) const {
    ArchiveEntryRecord record;  // not zeroed first: every byte is copied in
    std::memcpy(&record, records_ + i * sizeof record, sizeof record);
    return record;
}

ArchiveListing ArchivePlugin::List(const std::string& path) {
    std::string pluginPath = PathForPlugin(path);
    HGLOBAL handle = nullptr;
    int32_t result = getArchiveInfo_(pluginPath.c_str(), 0, 0, &handle);
    HostBlock block(result == Ok ? handle : nullptr);
    Check(result, "GetArchiveInfo", path);
    return ArchiveListing(std::move(block));
}

namespace {

int32_t WINAPI ReportProgress(int32_t step, int32_t total, intptr_t userData) {
    // Nothing may unwind into the plug-in.
    try {
        const auto& progress = *reinterpret_cast<const ArchivePlugin::Progress*>(userData);
        return progress(step, total) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

}  // namespace

HostBlock ArchivePlugin::GetFile(const std::string& path, uint32_t position, const Progress* progress) {
    std::string pluginPath = PathForPlugin(path);
    HGLOBAL handle = nullptr;
    int32_t result = getFile_(pluginPath.c_str(), position, &handle, DestInMemory,
                              progress != nullptr ? ReportProgress : nullptr,
                              reinterpret_cast<intptr_t>(progress));
    HostBlock block(result == Ok ? handle : nullptr);
    Check(result, "GetFile", path);
    return block;
}

std::string EntryNameBytes(const ArchiveEntryRecord& record) {
    auto field = [](const char* text, size_t size) {
        return std::string(text, std::find(text, text + size, '\0'));
    };
    std::string folder = field(record.path, sizeof record.path);
    std::string name = field(record.fileName, sizeof record.fileName);
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder + name;
}

}  // namespace host
