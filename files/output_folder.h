// Where the tools write their files. Whatever names arrive, nothing is
// written outside the output folder, no symbolic link (on Windows: no
// reparse point) that stands inside it is followed or replaced, and a file
// appears under its name only when it is complete: it is written under a
// temporary name in its own folder and renamed into place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "tool_error.h"

namespace files {

namespace system {
struct Folder;
}

// A file being written under a temporary name. Removed unless committed,
// also when the program is interrupted (see InstallInterruptCleanup).
class PendingFile {
public:
    ~PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    PendingFile& operator=(PendingFile&&) = delete;

    // ToolError when the bytes cannot be written (a full disk).
    void Write(const uint8_t* data, size_t size);

    // Asks the system to put the bytes on the disk before the rename, for
    // a file whose loss in a crash would cost more than the wait.
    void Sync();

    // Renames the file into place. With `replace`, whatever file stands at
    // its name is replaced (never a link or a folder: ToolError); without,
    // false when anything stands there, and the temporary is removed.
    bool Commit(bool replace);

private:
    friend class OutputFolder;
    struct Impl;
    explicit PendingFile(std::unique_ptr<Impl> impl);
    void Discard();
    std::unique_ptr<Impl> impl_;
};

// What becomes of a file that already stands where one is put.
enum class ExistingPolicy { Refuse, Skip, Overwrite };
// What Put did: wrote the file, or left the one standing there (Skipped
// under ExistingPolicy::Skip, Exists under ExistingPolicy::Refuse).
enum class PutResult { Written, Skipped, Exists };

class OutputFolder {
public:
    // Creates the folder, and the folders above it, when missing. The path
    // itself is taken as the user gave it. ToolError when it cannot be made.
    explicit OutputFolder(const std::string& path);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // `relative` is a path from SafeRelativePath: parts joined by '/', none
    // of them empty, "." or "..", and no '\' or ':' (ToolError otherwise).

    // Whether anything (a file, folder or link) stands at the path.
    bool Exists(const std::string& relative);
    // Creates the folders on the way (refusing links among them) and a
    // temporary file in the last one.
    PendingFile Create(const std::string& relative);

    // The one way the tools put a file in place: `produce` writes its bytes
    // into a pending file, which is then renamed to `relative` as `policy`
    // says. A file standing there is replaced only with Overwrite (never a
    // link or a folder: ToolError). With `askFirst`, whether one stands
    // there is asked before `produce` runs, saving its work (worth a call
    // for a large file); the rename refuses a taken name in any case.
    // Whatever `produce` throws leaves nothing behind.
    PutResult Put(const std::string& relative, const std::function<void(PendingFile&)>& produce,
                  ExistingPolicy policy, bool askFirst = true);

    const std::string& Path() const { return path_; }

private:
    std::shared_ptr<system::Folder> OpenFolder(const std::string& relativeFolder, bool create);

    std::string path_;
    std::map<std::string, std::shared_ptr<system::Folder>> folders_;
};

// One file the user named by its path: the folder it goes in (made when
// missing) and a pending file there for it. ToolError when the path names
// a folder or the folder cannot be made.
PendingFile CreateFileAt(const std::string& path);

// The folder part and the name of a path ("." for a bare name).
std::string FolderOf(const std::string& path);
std::string BaseName(const std::string& path);

// Makes an interrupt (Ctrl+C, SIGINT, SIGTERM, SIGHUP, a closed stdout)
// remove the pending temporaries before the program ends as it otherwise would.
void InstallInterruptCleanup();

}  // namespace files
