// The output folder on Windows: wide calls on full paths with the "\\?\"
// prefix, so names are taken literally (no device names, no trimming of
// dots and spaces); every folder on the way is checked for a reparse point
// (symbolic link or junction) before it is used.
#ifdef _WIN32
#include <atomic>
#include <utility>

#include "input_file.h"
#include "output_folder.h"
#include "platform.h"
#include "plugin_module.h"
#include "wide_text.h"

namespace host {

// ---- temporaries an interrupt must remove -------------------------------------------

namespace {

struct TemporarySlot {
    std::atomic<bool> used{false};
    wchar_t path[32768];
};
TemporarySlot temporaries[2];

int RegisterTemporary(const std::wstring& path) {
    for (int i = 0; i < 2; ++i) {
        if (temporaries[i].used.load() || path.size() >= 32768) continue;
        path.copy(temporaries[i].path, path.size());
        temporaries[i].path[path.size()] = L'\0';
        temporaries[i].used.store(true);
        return i;
    }
    return -1;
}

void UnregisterTemporary(int slot) {
    if (slot >= 0) temporaries[slot].used.store(false);
}

// Runs on a thread of its own; the file was opened for shared deletion, so
// it goes when the process ends and closes it.
BOOL WINAPI RemoveTemporaries(DWORD) {
    for (TemporarySlot& slot : temporaries)
        if (slot.used.load()) DeleteFileW(slot.path);
    return FALSE;  // the default handler ends the process
}

bool directWrites = false;

std::wstring LongPath(const std::wstring& full) {
    if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

void SplitRelative(const std::string& relative, std::string& folder, std::string& name) {
    size_t start = 0;
    for (;;) {
        size_t end = relative.find('/', start);
        std::string part = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == ".." || part.find_first_of(std::string("\\:\0", 3)) != std::string::npos)
            throw HostError("unsafe output path " + relative);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    size_t cut = relative.rfind('/');
    folder = cut == std::string::npos ? "" : relative.substr(0, cut);
    name = cut == std::string::npos ? relative : relative.substr(cut + 1);
}

}  // namespace

void InstallInterruptCleanup() { SetConsoleCtrlHandler(RemoveTemporaries, TRUE); }

void SetDirectWritesForBenchmark(bool direct) { directWrites = direct; }

// ---- folders ----------------------------------------------------------------------

struct OutputFolder::Folder {
    std::wstring path;  // full, with the long-path prefix
};

OutputFolder::OutputFolder(const std::string& path) : path_(path.empty() ? "." : path) {
    std::wstring wide = Utf8ToWide(path_);
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    n = n ? GetFullPathNameW(wide.c_str(), n, &full[0], nullptr) : 0;
    if (n == 0) throw HostError("cannot use the folder " + path_ + ": " + LastSystemError());
    full.resize(n);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    full = LongPath(full);
    // Create it and the folders above it. Prefixes that are no folders (the
    // drive, a share) fail harmlessly; only the end result counts.
    DWORD lastError = ERROR_PATH_NOT_FOUND;
    for (size_t at = full.find(L'\\', 4);; at = full.find(L'\\', at + 1)) {
        std::wstring prefix = full.substr(0, at);
        if (GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !CreateDirectoryW(prefix.c_str(), nullptr))
            lastError = GetLastError();
        if (at == std::wstring::npos) break;
    }
    DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        SetLastError(lastError);
        throw HostError("cannot create the folder " + path_ + ": " + LastSystemError());
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) throw HostError("cannot use the folder " + path_ + ": not a folder");
    folders_[""] = std::make_shared<Folder>(Folder{full});
}

OutputFolder::~OutputFolder() = default;

std::shared_ptr<OutputFolder::Folder> OutputFolder::OpenFolder(const std::string& relativeFolder, bool create) {
    auto known = folders_.find(relativeFolder);
    if (known != folders_.end()) return known->second;
    size_t cut = relativeFolder.rfind('/');
    std::string parentPath = cut == std::string::npos ? "" : relativeFolder.substr(0, cut);
    std::shared_ptr<Folder> parent = OpenFolder(parentPath, create);
    if (!parent) return nullptr;
    std::wstring path = parent->path + L"\\" +
                        Utf8ToWide(cut == std::string::npos ? relativeFolder : relativeFolder.substr(cut + 1));
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!create) return nullptr;
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            throw HostError("cannot create the folder " + relativeFolder + ": " + LastSystemError());
        attributes = GetFileAttributesW(path.c_str());
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw HostError(relativeFolder + " is a symbolic link or junction; not followed");
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw HostError(relativeFolder + " is not a folder");
    auto folder = std::make_shared<Folder>(Folder{path});
    folders_[relativeFolder] = folder;
    return folder;
}

bool OutputFolder::Exists(const std::string& relative) {
    std::string folderPath, name;
    SplitRelative(relative, folderPath, name);
    std::shared_ptr<Folder> folder = OpenFolder(folderPath, false);
    if (!folder) return false;
    return GetFileAttributesW((folder->path + L"\\" + Utf8ToWide(name)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---- pending files --------------------------------------------------------------------

struct PendingFile::Impl {
    std::wstring finalPath;
    std::wstring temporary;  // empty when written directly
    std::string shown;
    HANDLE file = INVALID_HANDLE_VALUE;
    int slot = -1;
};

PendingFile OutputFolder::Create(const std::string& relative) {
    std::string folderPath, name;
    SplitRelative(relative, folderPath, name);
    std::shared_ptr<Folder> folder = OpenFolder(folderPath, true);
    auto impl = std::make_unique<PendingFile::Impl>();
    impl->finalPath = folder->path + L"\\" + Utf8ToWide(name);
    impl->shown = relative;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    if (directWrites) {
        impl->file = CreateFileW(impl->finalPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
        if (impl->file == INVALID_HANDLE_VALUE)
            throw HostError("cannot create " + relative + ": " + LastSystemError());
        return PendingFile(std::move(impl));
    }
    static unsigned serial = 0;
    for (int attempt = 0; impl->file == INVALID_HANDLE_VALUE; ++attempt) {
        impl->temporary = folder->path + L"\\.zorv-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(++serial) + L".tmp";
        // Known before it exists, so an interrupt during the creation
        // finds it; shared deletion lets the interrupt remove it while open.
        impl->slot = RegisterTemporary(impl->temporary);
        impl->file = CreateFileW(impl->temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, flags, nullptr);
        if (impl->file != INVALID_HANDLE_VALUE) break;
        DWORD error = GetLastError();
        UnregisterTemporary(std::exchange(impl->slot, -1));
        SetLastError(error);
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt > 100)
            throw HostError("cannot create a file in " + (folderPath.empty() ? path_ : folderPath) + ": " +
                            LastSystemError());
    }
    return PendingFile(std::move(impl));
}

PendingFile::PendingFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PendingFile::PendingFile(PendingFile&& other) noexcept = default;

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
    if (!impl_) return;
    if (impl_->file != INVALID_HANDLE_VALUE) CloseHandle(impl_->file);
    if (!impl_->temporary.empty()) DeleteFileW(impl_->temporary.c_str());
    UnregisterTemporary(impl_->slot);
    impl_.reset();
}

void PendingFile::Write(const uint8_t* data, size_t size) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size < (1u << 24) ? size : (1u << 24));
        DWORD written = 0;
        if (!WriteFile(impl_->file, data, chunk, &written, nullptr) || written == 0)
            throw HostError("cannot write " + impl_->shown + ": " + LastSystemError());
        data += written;
        size -= written;
    }
}

bool PendingFile::Commit(bool replace) {
    HANDLE file = std::exchange(impl_->file, INVALID_HANDLE_VALUE);
    if (!CloseHandle(file)) throw HostError("cannot write " + impl_->shown + ": " + LastSystemError());
    if (impl_->temporary.empty()) {
        impl_.reset();
        return true;
    }
    DWORD existing = GetFileAttributesW(impl_->finalPath.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (!replace) {
            Discard();
            return false;
        }
        if (existing & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
            throw HostError(impl_->shown +
                            (existing & FILE_ATTRIBUTE_REPARSE_POINT ? " is a symbolic link or junction"
                                                                     : " is not a file") +
                            "; not replaced");
    }
    if (!MoveFileExW(impl_->temporary.c_str(), impl_->finalPath.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        DWORD error = GetLastError();
        if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
            Discard();
            return false;
        }
        SetLastError(error);
        throw HostError("cannot rename into " + impl_->shown + ": " + LastSystemError());
    }
    impl_->temporary.clear();
    UnregisterTemporary(impl_->slot);
    impl_.reset();
    return true;
}

}  // namespace host
#endif
