#include "plugin_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <set>
#include <fstream>
#include <stdexcept>

#include "names.h"
#include "plugin_frame.h"
#include "pw_encoder.h"
#include "safe_path.h"
#include "take_handle.h"
#include "content_hash.h"

namespace writer_test {

namespace fs = std::filesystem;

namespace {

typedef int32_t(WINAPI* GetPictureFn)(const char*, int32_t, uint32_t, HGLOBAL*, HGLOBAL*, ProgressCallback,
                                      intptr_t);
typedef int32_t(WINAPI* GetPictureInfoFn)(const char*, int32_t, uint32_t, PictureInfoRecord*);
typedef int32_t(WINAPI* GetArchiveInfoFn)(const char*, int32_t, uint32_t, HGLOBAL*);
typedef int32_t(WINAPI* GetFileFn)(const char*, uint32_t, HGLOBAL*, uint32_t, ProgressCallback, intptr_t);

void* Load(const char* file) {
    void* module = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!module) throw std::runtime_error(std::string("cannot load ") + file + ": " + dlerror());
    return module;
}

template <class Fn>
Fn Find(void* module, const char* name) {
    void* symbol = dlsym(module, name);
    if (!symbol) throw std::runtime_error(std::string("no export ") + name);
    return reinterpret_cast<Fn>(symbol);
}

void* PictureModule() {
    static void* module = Load(ZORV_PICTURE_MODULE);
    return module;
}

void* ArchiveModule() {
    static void* module = Load(ZORV_ARCHIVE_MODULE);
    return module;
}

std::string FoldCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

PictureDelivery GetPictureOf(const std::vector<uint8_t>& packed) {
    static auto getPicture = Find<GetPictureFn>(PictureModule(), "GetPicture");
    PictureDelivery delivery;
    HGLOBAL info = nullptr, bits = nullptr;
    delivery.result = getPicture(reinterpret_cast<const char*>(packed.data()), static_cast<int32_t>(packed.size()),
                                 SourceInMemory, &info, &bits, nullptr, 0);
    if (delivery.result == Ok) {
        delivery.info = TakeHandle(info);
        delivery.bits = TakeHandle(bits);
    }
    return delivery;
}

std::vector<ListedEntry> ListArchive(const std::string& archive) {
    static auto getArchiveInfo = Find<GetArchiveInfoFn>(ArchiveModule(), "GetArchiveInfo");
    HGLOBAL handle = nullptr;
    int32_t result = getArchiveInfo(archive.c_str(), 0, 0, &handle);
    if (result != Ok) throw std::runtime_error("GetArchiveInfo answered " + std::to_string(result));
    std::vector<uint8_t> block = TakeHandle(handle);
    std::vector<ListedEntry> entries;
    for (size_t at = 0; at + sizeof(ArchiveEntryRecord) <= block.size() && block[at] != 0;
         at += sizeof(ArchiveEntryRecord)) {
        ArchiveEntryRecord record;
        std::memcpy(&record, block.data() + at, sizeof record);
        entries.push_back({record.fileName, record.position, record.packedSize, record.outputSize});
    }
    return entries;
}

std::vector<uint8_t> GetEntry(const std::string& archive, uint32_t position) {
    static auto getFile = Find<GetFileFn>(ArchiveModule(), "GetFile");
    HGLOBAL handle = nullptr;
    int32_t result = getFile(archive.c_str(), position, &handle, DestInMemory, nullptr, 0);
    if (result != Ok) throw std::runtime_error("GetFile answered " + std::to_string(result));
    return TakeHandle(handle);
}

writer::Manifest ExtractWithManifest(const std::string& archive, const fs::path& folder) {
    static auto getPictureInfo = Find<GetPictureInfoFn>(PictureModule(), "GetPictureInfo");
    writer::Manifest manifest = writer::DescribeArchive(archive);
    std::vector<ListedEntry> listing = ListArchive(archive);
    if (listing.size() != manifest.entries.size()) throw std::runtime_error("listing and manifest disagree");
    host::OutputPlanner planner;
    std::set<std::string> taken;
    for (size_t i = 0; i < listing.size(); ++i) {
        writer::ManifestEntry& entry = manifest.entries[i];
        entry.name = host::NameToUtf8(writer::NameFromField(entry.nameField));
        std::string shown = entry.name;
        if (entry.kind == writer::EntryKind::Audio) {
            const size_t dot = shown.rfind('.');
            shown = (dot == std::string::npos ? shown : shown.substr(0, dot)) + ".wav";
        }
        // Made unique here too, whatever the name planner in this tree does.
        std::string path = planner.Assign(shown);
        for (int n = 2; !taken.insert(FoldCase(path)).second; ++n) path = planner.Assign(shown + "~" + std::to_string(n));
        std::vector<uint8_t> bytes;
        try {
            bytes = GetEntry(archive, listing[i].position);
        } catch (const std::runtime_error&) {
            continue;  // not extracted: the manifest says so by having no file
        }
        fs::create_directories((folder / fs::u8path(path)).parent_path());
        std::ofstream(folder / fs::u8path(path), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        entry.file = writer::WrittenFile{path, bytes.size(), writer::ContentHashHex(bytes.data(), bytes.size())};
        PictureInfoRecord record;
        if (entry.kind == writer::EntryKind::Picture &&
            getPictureInfo(reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()),
                           SourceInMemory, &record) == Ok)
            entry.pictureBitCount = record.colorDepth;
    }
    writer::WriteManifestFile(folder, manifest);
    return manifest;
}

bool HaveAudioEncoder() {
    try {
        writer::NearestPwCode(0);
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "zorv-writer-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) throw std::runtime_error("cannot make a scratch folder");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

fs::path ScratchFolder::Write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
    fs::path file = path_ / fs::u8path(relative);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace writer_test
