// Folders and files on Windows: wide calls on full paths with the "\\?\"
// prefix, so names are taken literally (no device names, no trimming of
// dots and spaces). Every folder on the way is opened without following a
// reparse point (symbolic link or junction), judged by the handle it
// opened, and held open without shared deletion while it is in use, so it
// cannot be renamed away or swapped for a junction behind our back.
#ifdef _WIN32
#include <windows.h>

#include <atomic>

#include "system_folder.h"
#include "wide_text.h"

namespace files::system {

struct Folder {
    Folder(std::wstring path, HANDLE handle) : path(std::move(path)), handle(handle) {}
    ~Folder() { CloseHandle(handle); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::wstring path;  // full, with the long-path prefix
    HANDLE handle;      // keeps the folder at its path while it is in use
};

namespace {

std::wstring PathIn(const Folder& folder, const std::string& name) { return folder.path + L"\\" + Utf8ToWide(name); }

std::wstring LongPath(const std::wstring& full) {
    if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// ---- temporaries an interrupt must remove -------------------------------------------

struct TemporarySlot {
    std::atomic<bool> used{false};
    wchar_t path[32768];
};
TemporarySlot temporaries[2];

// Runs on a thread of its own; the file was opened for shared deletion, so
// it goes when the process ends and closes it.
BOOL WINAPI RemoveTemporaries(DWORD) {
    for (TemporarySlot& slot : temporaries)
        if (slot.used.load()) DeleteFileW(slot.path);
    return FALSE;  // the default handler ends the process
}

// Opens a folder to hold it: without FILE_SHARE_DELETE it can be neither
// renamed nor removed while the handle is open (the listing right takes
// part in the sharing check; attributes alone would not). With `ownLink` a
// reparse point is opened itself rather than followed.
HANDLE OpenFolderHandle(const std::wstring& path, bool ownLink) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (ownLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

int RegisterTemporary(const Folder& folder, const std::string& name) {
    const std::wstring path = PathIn(folder, name);
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

void InstallInterruptCleanup() { SetConsoleCtrlHandler(RemoveTemporaries, TRUE); }

std::string TemporaryPrefix() { return ".zorv-" + std::to_string(GetCurrentProcessId()) + "-"; }

// ---- folders ----------------------------------------------------------------------

std::shared_ptr<Folder> OpenRoot(const std::string& path) {
    std::wstring wide = Utf8ToWide(path);
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    n = n ? GetFullPathNameW(wide.c_str(), n, &full[0], nullptr) : 0;
    if (n == 0) throw ToolError("cannot use the folder " + path + ": " + LastSystemError());
    full.resize(n);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    full = LongPath(full);
    // Create it and the folders above it. Prefixes that are no folders (the
    // drive, a share) fail harmlessly; only the end result counts.
    DWORD lastError = ERROR_PATH_NOT_FOUND;
    for (size_t at = full.find(L'\\', 4);; at = full.find(L'\\', at + 1)) {
        std::wstring prefix = full.substr(0, at);
        if (GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(prefix.c_str(), nullptr))
            lastError = GetLastError();
        if (at == std::wstring::npos) break;
    }
    DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        SetLastError(lastError);
        throw ToolError("cannot create the folder " + path + ": " + LastSystemError());
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) throw ToolError("cannot use the folder " + path + ": not a folder");
    // The folder the user named may itself be a link: it is followed.
    HANDLE handle = OpenFolderHandle(full, false);
    if (handle == INVALID_HANDLE_VALUE) throw ToolError("cannot use the folder " + path + ": " + LastSystemError());
    return std::make_shared<Folder>(full, handle);
}

std::shared_ptr<Folder> OpenChild(const Folder& parent, const std::string& name, const std::string& shown,
                                  bool create) {
    const std::wstring path = PathIn(parent, name);
    HANDLE handle = OpenFolderHandle(path, true);
    if (handle == INVALID_HANDLE_VALUE && IsMissing(GetLastError())) {
        if (!create) return nullptr;
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            throw ToolError("cannot create the folder " + shown + ": " + LastSystemError());
        handle = OpenFolderHandle(path, true);
    }
    if (handle == INVALID_HANDLE_VALUE) throw ToolError("cannot open the folder " + shown + ": " + LastSystemError());
    // Judged by what was opened, not by the path again: a junction swapped
    // in after a look at the path would otherwise be followed.
    auto folder = std::make_shared<Folder>(path, handle);
    BY_HANDLE_FILE_INFORMATION about;
    if (!GetFileInformationByHandle(handle, &about))
        throw ToolError("cannot open the folder " + shown + ": " + LastSystemError());
    if (about.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw ToolError(shown + " is a symbolic link or junction; not followed");
    if (!(about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) throw ToolError(shown + " is not a folder");
    return folder;
}

Standing WhatStands(const Folder& folder, const std::string& name) {
    DWORD attributes = GetFileAttributesW(PathIn(folder, name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Standing::Nothing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Standing::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? Standing::Other : Standing::File;
}

// ---- files ----------------------------------------------------------------------

File CreateIn(const Folder& folder, const std::string& name, bool exclusive, const std::string& shown) {
    // Shared deletion lets an interrupt remove a temporary while it is open.
    HANDLE file = CreateFileW(PathIn(folder, name).c_str(), GENERIC_WRITE, exclusive ? FILE_SHARE_DELETE : 0,
                              nullptr, exclusive ? CREATE_NEW : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) return reinterpret_cast<File>(file);
    DWORD error = GetLastError();
    if (exclusive && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) return kNoFile;
    throw ToolError("cannot create a file in " + shown + ": " + LastSystemError());
}

void WriteAll(File file, const uint8_t* data, size_t size, const std::string& shown) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size < (1u << 24) ? size : (1u << 24));
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), data, chunk, &written, nullptr) || written == 0)
            throw ToolError("cannot write " + shown + ": " + LastSystemError());
        data += written;
        size -= written;
    }
}

void Sync(File file, const std::string& shown) {
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(file)))
        throw ToolError("cannot write " + shown + ": " + LastSystemError());
}

void Close(File file, const std::string& shown) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(file)))
        throw ToolError("cannot write " + shown + ": " + LastSystemError());
}

void CloseQuietly(File file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

void Remove(const Folder& folder, const std::string& name) { DeleteFileW(PathIn(folder, name).c_str()); }

bool Rename(const Folder& folder, const std::string& from, const std::string& to, bool replace,
            const std::string& shown) {
    if (MoveFileExW(PathIn(folder, from).c_str(), PathIn(folder, to).c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return true;
    DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return false;
    SetLastError(error);
    throw ToolError("cannot rename into " + shown + ": " + LastSystemError());
}

}  // namespace files::system
#endif
