// The writer in the Windows build, where its files, folders and renames go
// through the Windows calls: a folder built into an archive and an
// extraction rebuilt byte for byte, each written under a temporary name and
// renamed into place, then read back through the real ZORVPACK.SPI and
// ZORVPICT.SPI. Usage: writer_host_test <ZORVPACK.SPI> <ZORVPICT.SPI>
#include <algorithm>
#include <filesystem>

#include "archive_builder.h"
#include "atomic_file.h"
#include "bitmap_builder.h"
#include "host_harness.h"
#include "input_file.h"
#include "packed_picture.h"
#include "rebuild.h"
#include "content_hash.h"

namespace {

namespace ab = archive_builder;
namespace fs = std::filesystem;

const uint32_t kDestInMemory = 0x100, kMemory = 0x1;

std::optional<std::string> SameName(const std::string& name) { return name; }

struct Plugins {
    GetArchiveInfoFn getArchiveInfo;
    GetFileFn getFile;
    GetPictureFn getPicture;
};

struct Listed {
    std::string name;
    uint32_t position;
};

std::vector<Listed> List(const Plugins& p, const std::string& archive) {
    HLOCAL handle = nullptr;
    std::vector<Listed> listed;
    CHECK_EQ(p.getArchiveInfo(archive.c_str(), 0, 0, &handle), 0);
    if (!handle) return listed;
    std::vector<uint8_t> block = TakeHandle(handle);
    for (size_t at = 0; at + sizeof(HostEntryInfo) <= block.size() && block[at]; at += sizeof(HostEntryInfo)) {
        const HostEntryInfo* info = reinterpret_cast<const HostEntryInfo*>(block.data() + at);
        listed.push_back({info->fileName, info->position});
    }
    return listed;
}

std::vector<uint8_t> Get(const Plugins& p, const std::string& archive, uint32_t position) {
    HLOCAL handle = nullptr;
    CHECK_EQ(p.getFile(archive.c_str(), position, &handle, kDestInMemory, nullptr, 0), 0);
    return handle ? TakeHandle(handle) : std::vector<uint8_t>();
}

void Build(const writer::RebuildPlan& plan, const fs::path& target, bool replace) {
    writer::AtomicFile file(target);
    std::vector<std::string> notes;
    writer::BuildArchive(plan, file, {}, &notes);
    file.Commit(replace);
}

void FolderToArchive(const Plugins& p, const fs::path& root) {
    harness::SetContext("folder to archive");
    const bitmap_builder::Bitmap bitmap = bitmap_builder::BuildBitmap({13, -9, 8, 0, 40});
    const writer::PackedPicture picture = writer::PackPicture(bitmap.file.data(), bitmap.file.size(), {});
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"A.TXT", ab::Bytes(100, 1)}, {"EMPTY", {}}, {"PIC.BMP", picture.file}, {"SUB/B.BIN", ab::Bytes(70000, 2)}};
    for (const auto& file : files) {
        fs::create_directories((root / "in" / file.first).parent_path());
        WriteWholeFile((root / "in" / file.first).string(), file.second);
    }
    const fs::path target = root / "OUT.DAT";
    Build(writer::PlanFolderArchive(root / "in", writer::ArchiveSignature::Zrv01, SameName, {}), target, false);

    std::vector<Listed> listed = List(p, target.string());
    CHECK_EQ(listed.size(), files.size());
    for (size_t i = 0; i < listed.size() && i < files.size(); ++i) {
        std::string name = files[i].first;
        std::replace(name.begin(), name.end(), '/', '\\');
        CHECK_EQ(listed[i].name, name);
        CHECK(Get(p, target.string(), listed[i].position) == files[i].second);
    }
    HLOCAL info = nullptr, bits = nullptr;
    CHECK_EQ(p.getPicture(reinterpret_cast<const char*>(picture.file.data()), static_cast<int32_t>(picture.file.size()),
                          kMemory, &info, &bits, nullptr, 0),
             0);
    if (info && bits) {
        CHECK(TakeHandle(info) == bitmap.infoPart);
        CHECK(TakeHandle(bits) == bitmap.bits);
    }

    // Never over an existing file unless asked, and nothing left behind.
    bool refused = false;
    try {
        Build(writer::PlanFolderArchive(root / "in", writer::ArchiveSignature::Zrv03, SameName, {}), target, false);
    } catch (const files::ToolError&) {
        refused = true;
    }
    CHECK(refused);
    CHECK_EQ(List(p, target.string()).size(), files.size());
    Build(writer::PlanFolderArchive(root / "in", writer::ArchiveSignature::Zrv03, SameName, {}), target, true);
    CHECK_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 2);
}

void ExtractAndRebuild(const Plugins& p, const fs::path& root) {
    harness::SetContext("extract and rebuild");
    ab::ArchiveRecipe recipe;
    recipe.entries = {{"E0", {}}, {"A.TXT", ab::Bytes(30, 3)}, {std::string("N\0junk", 6), ab::Bytes(9, 4)},
                      {"E1", {}}, {"B.BIN", ab::Bytes(90000, 5)}};
    recipe.tail = ab::Bytes(7, 6);
    const std::vector<uint8_t> original = ab::BuildArchive(recipe);
    fs::create_directories(root);
    const fs::path archive = root / "IN.DAT";
    WriteWholeFile(archive.string(), original);

    writer::Manifest manifest = writer::DescribeArchive(archive);
    std::vector<Listed> listed = List(p, archive.string());
    CHECK_EQ(listed.size(), manifest.entries.size());
    fs::create_directories(root / "x");
    for (size_t i = 0; i < listed.size() && i < manifest.entries.size(); ++i) {
        std::vector<uint8_t> bytes = Get(p, archive.string(), listed[i].position);
        const std::string path = "entry" + std::to_string(i);
        WriteWholeFile((root / "x" / path).string(), bytes);
        manifest.entries[i].file = writer::WrittenFile{path, bytes.size(), writer::ContentHashHex(bytes.data(), bytes.size())};
    }
    writer::WriteManifestFile(root / "x", manifest);
    writer::RebuildPlan plan = writer::PlanRebuild(
        root / "x", writer::ReadManifestFile(root / "x" / writer::kManifestFileName), SameName, {});
    CHECK(plan.Exact());
    Build(plan, root / "AGAIN.DAT", false);
    HANDLE file = CreateFileA((root / "AGAIN.DAT").string().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    std::vector<uint8_t> again(original.size() + 1);
    DWORD got = 0;
    ReadFile(file, again.data(), static_cast<DWORD>(again.size()), &got, nullptr);
    CloseHandle(file);
    again.resize(got);
    CHECK(again == original);
}

// The tools read only files on a disk: a pipe (whose reader may wait for
// ever), a device or a folder is refused when it is opened.
void OnlyDiskFilesAreRead(const fs::path& root) {
    harness::SetContext("only disk files are read");
    const std::string pipe = "\\\\.\\pipe\\zorv-input-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                     nullptr);
    CHECK(server != INVALID_HANDLE_VALUE);
    fs::create_directories(root / "folder");
    WriteWholeFile((root / "file.bin").string(), ab::Bytes(10, 7));
    for (const std::string& path : {pipe, std::string("NUL"), (root / "folder").u8string()}) {
        bool refused = false;
        try {
            files::InputFile file(path);
        } catch (const files::ToolError&) {
            refused = true;
        }
        CHECK(refused);
    }
    CHECK_EQ(files::InputFile((root / "file.bin").u8string()).Size(), 10u);
    if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: %s <ZORVPACK.SPI> <ZORVPICT.SPI>\n", argv[0]);
        return 2;
    }
    LoadedPlugin pack(argv[1], "writer_pack");
    LoadedPlugin pict(argv[2], "writer_pict");
    Plugins p{pack.Export<GetArchiveInfoFn>("GetArchiveInfo"), pack.Export<GetFileFn>("GetFile"),
              pict.Export<GetPictureFn>("GetPicture")};
    ScratchFolder scratch("writer");
    const fs::path root = fs::u8path(scratch.Path());
    try {
        FolderToArchive(p, root / "folder");
        ExtractAndRebuild(p, root / "rebuild");
        OnlyDiskFilesAreRead(root / "inputs");
    } catch (const std::exception& error) {
        CHECK(!"unexpected exception");
        std::printf("  %s\n", error.what());
    }
    std::error_code ignored;
    fs::remove_all(root / "folder", ignored);
    fs::remove_all(root / "rebuild", ignored);
    fs::remove_all(root / "inputs", ignored);
    return harness::Finish();
}
