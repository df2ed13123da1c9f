// Building archives from files: a folder that extraction left with its
// manifest (the rebuild), a folder without one, or a list of files. Planning
// decides, for every entry, what will be written and why, reading and
// hashing the files but writing nothing, so the same plan serves a dry run
// and the report after a build. BuildArchive then writes what the plan says.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "file_look.h"
#include "lzss_encoder.h"
#include "manifest.h"
#include "packed_picture.h"

namespace writer {

struct BuildOptions {
    LzssParse parse = LzssParse::Optimal;  // for pictures packed again
    bool encodeAudio = false;              // added .wav files become coded audio
    // The archive being written, when it lies in the folder: never taken
    // in as an entry of itself.
    std::filesystem::path output;
    // Told of each file as planning reads it and of each entry as the build
    // writes it (who, and how many bytes), for a progress display.
    ProgressCallback onProgress;
    // Checks each picture packed, through the picture plug-in.
    PackedPictureCheck checkPicture;
};

// UTF-8 entry name to the archive's code page; nullopt when it cannot be
// expressed. The caller supplies it, so the writer stays free of code pages.
using NameEncoder = std::function<std::optional<std::string>(const std::string& utf8Name)>;

enum class PlanAction { Keep, Change, Add, Remove };
const char* ActionName(PlanAction action);

// How an entry's bytes are made.
enum class Making {
    Nothing,      // removed
    Original,     // unchanged: the stored bytes, given back exactly
    AsIs,         // the file's bytes
    PackPicture,  // a PNG or plain bitmap file, packed
    EncodeAudio,  // a WAVE file, coded
};

struct PlanItem {
    PlanAction action = PlanAction::Keep;
    Making making = Making::Nothing;
    std::string name;  // for people
    NameField nameField{};
    std::string file;  // the file the entry comes from, as shown to people
    std::string source;  // its path, UTF-8
    std::string reason;
    const ManifestEntry* original = nullptr;  // the entry as it was, in the plan's manifest
    uint64_t fileSize = 0;
    // Small files are kept from planning, so they are read only once and
    // what was hashed is what is written.
    std::shared_ptr<const std::vector<uint8_t>> content;
};

struct RebuildPlan {
    ArchiveLayout layout;
    std::vector<PlanItem> items;        // archive order; removed entries too, written nowhere
    std::vector<std::string> notExact;  // why a rebuild is not byte for byte, beyond changed entries
    std::vector<std::string> ignored;   // files that take no part, and why
    std::shared_ptr<const Manifest> manifest;  // a rebuild's; its entries are the items' originals

    // A rebuild that gives the original archive back byte for byte.
    bool Exact() const;
    size_t Count(PlanAction action) const;
};

// The rebuild of `folder`, which holds `manifest`. Refuses (files::ToolError),
// before anything is written: a picture whose file and PNG both changed, a
// replacement that is not what its entry holds, an added file whose name
// cannot be stored or is taken, more than 65,535 entries.
RebuildPlan PlanRebuild(const std::filesystem::path& folder, Manifest manifest, const NameEncoder& encodeName,
                        const BuildOptions& options);

// A new archive of every file under `folder`, in path order, each named by
// its relative path with '\' between the parts.
RebuildPlan PlanFolderArchive(const std::filesystem::path& folder, ArchiveSignature signature,
                              const NameEncoder& encodeName, const BuildOptions& options);

// A new archive of the given files, in that order, each named by its file name.
RebuildPlan PlanFilesArchive(const std::vector<std::filesystem::path>& files, ArchiveSignature signature,
                             const NameEncoder& encodeName, const BuildOptions& options);

// What the plan does, for a dry run and the report after a build: a row
// per entry that is not kept as it was (every entry with `everyEntry`),
// then a row per file that takes no part ("ignore", with only a reason).
struct ReportRow {
    std::string action;  // ActionName, or "ignore"
    std::string name;    // the entry's name; empty for "ignore"
    std::string file;    // the file it comes from, when that is not its name
    std::string reason;
};
std::vector<ReportRow> PlanRows(const RebuildPlan& plan, bool everyEntry);

// The line that sums the plan up and says whether the result is the
// original archive byte for byte, and why not.
std::string PlanSummary(const RebuildPlan& plan);

// The rows as tab-separated text (action, name, "(file)" when given,
// reason), then
// the summary: for logs and tests.
std::vector<std::string> PlanReport(const RebuildPlan& plan, bool everyEntry);

// Writes the archive the plan describes into `sink`. Changed entries are
// encoded first, so a picture or WAVE that cannot be read stops the build
// before its first byte; a file that changes after planning stops it too.
// What the encoders had to say goes to `notes`, naming the entry.
void BuildArchive(const RebuildPlan& plan, ByteSink& sink, const BuildOptions& options,
                  std::vector<std::string>* notes);

}  // namespace writer
