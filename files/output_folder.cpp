#include "output_folder.h"

#include <utility>

#include "system_folder.h"

namespace files {

namespace {

// Splits "a/b/c" into the folder "a/b" and the name "c", refusing parts that
// could leave the folder or that a file system would read otherwise.
void SplitRelative(const std::string& relative, std::string& folder, std::string& name) {
    size_t start = 0;
    for (;;) {
        size_t end = relative.find('/', start);
        std::string part = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == ".." || part.find_first_of(std::string("\\:\0", 3)) != std::string::npos)
            throw ToolError("unsafe output path " + relative);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    size_t cut = relative.rfind('/');
    folder = cut == std::string::npos ? "" : relative.substr(0, cut);
    name = cut == std::string::npos ? relative : relative.substr(cut + 1);
}

}  // namespace

void InstallInterruptCleanup() { system::InstallInterruptCleanup(); }

// ---- folders ----------------------------------------------------------------------

OutputFolder::OutputFolder(const std::string& path) : path_(path.empty() ? "." : path) {
    folders_[""] = system::OpenRoot(path_);
}

OutputFolder::~OutputFolder() = default;

std::shared_ptr<system::Folder> OutputFolder::OpenFolder(const std::string& relativeFolder, bool create) {
    auto known = folders_.find(relativeFolder);
    if (known != folders_.end()) return known->second;
    // Many folders (names are short, archives have thousands of entries)
    // must not use up the descriptors: forget all but the output folder.
    if (folders_.size() > 64) {
        auto root = folders_[""];
        folders_.clear();
        folders_[""] = root;
    }
    size_t cut = relativeFolder.rfind('/');
    std::string parentPath = cut == std::string::npos ? "" : relativeFolder.substr(0, cut);
    std::string part = cut == std::string::npos ? relativeFolder : relativeFolder.substr(cut + 1);
    std::shared_ptr<system::Folder> parent = OpenFolder(parentPath, create);
    if (!parent) return nullptr;
    std::shared_ptr<system::Folder> folder = system::OpenChild(*parent, part, relativeFolder, create);
    if (folder) folders_[relativeFolder] = folder;
    return folder;
}

bool OutputFolder::Exists(const std::string& relative) {
    std::string folderPath, name;
    SplitRelative(relative, folderPath, name);
    std::shared_ptr<system::Folder> folder = OpenFolder(folderPath, false);
    return folder && system::WhatStands(*folder, name) != system::Standing::Nothing;
}

// ---- pending files ----------------------------------------------------------------

struct PendingFile::Impl {
    std::shared_ptr<system::Folder> folder;
    std::string name;       // the final name in the folder
    std::string temporary;  // the name while it is written
    std::string shown;      // relative path, for messages
    system::File file = system::kNoFile;
    int slot = -1;
};

PendingFile OutputFolder::Create(const std::string& relative) {
    std::string folderPath, name;
    SplitRelative(relative, folderPath, name);
    auto impl = std::make_unique<PendingFile::Impl>();
    impl->folder = OpenFolder(folderPath, true);
    impl->name = name;
    impl->shown = relative;
    static unsigned serial = 0;
    static const std::string prefix = system::TemporaryPrefix();
    const std::string where = folderPath.empty() ? path_ : folderPath;
    for (int attempt = 0; impl->file == system::kNoFile; ++attempt) {
        if (attempt > 100) throw ToolError("cannot create a file in " + where + ": every temporary name is taken");
        impl->temporary = prefix + std::to_string(++serial) + ".tmp";
        impl->slot = system::RegisterTemporary(*impl->folder, impl->temporary);
        try {
            impl->file = system::CreateIn(*impl->folder, impl->temporary, true, where);
        } catch (...) {
            system::UnregisterTemporary(std::exchange(impl->slot, -1));
            impl->temporary.clear();
            throw;
        }
        if (impl->file == system::kNoFile) system::UnregisterTemporary(std::exchange(impl->slot, -1));
    }
    return PendingFile(std::move(impl));
}

PutResult OutputFolder::Put(const std::string& relative, const std::function<void(PendingFile&)>& produce,
                            ExistingPolicy policy, bool askFirst) {
    const PutResult kept = policy == ExistingPolicy::Skip ? PutResult::Skipped : PutResult::Exists;
    if (policy != ExistingPolicy::Overwrite && askFirst && Exists(relative)) return kept;
    PendingFile file = Create(relative);
    produce(file);
    return file.Commit(policy == ExistingPolicy::Overwrite) ? PutResult::Written : kept;
}

PendingFile CreateFileAt(const std::string& path) {
    OutputFolder folder(FolderOf(path));
    return folder.Create(BaseName(path));
}

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? "." : cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::string BaseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

PendingFile::PendingFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PendingFile::PendingFile(PendingFile&& other) noexcept = default;

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
    if (!impl_) return;
    if (impl_->file != system::kNoFile) system::CloseQuietly(impl_->file);
    if (!impl_->temporary.empty()) system::Remove(*impl_->folder, impl_->temporary);
    system::UnregisterTemporary(impl_->slot);
    impl_.reset();
}

void PendingFile::Write(const uint8_t* data, size_t size) {
    if (!impl_ || impl_->file == system::kNoFile) throw ToolError("writing a file after it was closed");
    system::WriteAll(impl_->file, data, size, impl_->shown);
}

void PendingFile::Sync() {
    if (!impl_ || impl_->file == system::kNoFile) throw ToolError("writing a file after it was closed");
    system::Sync(impl_->file, impl_->shown);
}

bool PendingFile::Commit(bool replace) {
    if (!impl_ || impl_->file == system::kNoFile) throw ToolError("writing a file after it was closed");
    system::Close(std::exchange(impl_->file, system::kNoFile), impl_->shown);
    // Without `replace` the rename itself refuses a taken name: no call more
    // per file. Replacing, it must not be a link or a folder that goes.
    const system::Standing standing =
        replace ? system::WhatStands(*impl_->folder, impl_->name) : system::Standing::Nothing;
    if (standing == system::Standing::Link || standing == system::Standing::Other)
        throw ToolError(impl_->shown +
                        (standing == system::Standing::Link ? " is a symbolic link" : " is not a file") +
                        "; not replaced");
    if (!system::Rename(*impl_->folder, impl_->temporary, impl_->name, replace, impl_->shown)) {
        Discard();
        return false;
    }
    impl_->temporary.clear();
    system::UnregisterTemporary(impl_->slot);
    impl_.reset();
    return true;
}

}  // namespace files
