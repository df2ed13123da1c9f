// The folder scan on Windows, by FindFirstFileExW: a reparse point
// (symbolic link, junction, or a Unix link to a folder under Wine) is
// listed as a link and never entered. The C runtime's stat and
// std::filesystem on MinGW see through them, so neither is used here.
#ifdef _WIN32
#include <windows.h>

#include "folder_tree.h"
#include "wide_text.h"

namespace files {

namespace {

std::wstring FullLongPath(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path.empty() ? "." : path);
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    n = n ? GetFullPathNameW(wide.c_str(), n, &full[0], nullptr) : 0;
    if (n == 0) throw ToolError("cannot read the folder " + path + ": " + LastSystemError());
    full.resize(n);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

TreeEntryKind KindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TreeEntryKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return TreeEntryKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return TreeEntryKind::Other;
    return TreeEntryKind::File;
}

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

void ListInto(const std::wstring& full, const std::string& root, const std::string& relative, int depth,
              std::vector<TreeEntry>& out) {
    const std::string shown = relative.empty() ? root : root + "/" + relative;
    if (depth > kDeepestFolderTree)
        throw ToolError("the folder " + shown + " lies deeper than " + std::to_string(kDeepestFolderTree) +
                        " folders");
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileExW((full + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (find.get() == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return;  // nothing in it, not even "."
        throw ToolError("cannot read the folder " + shown + ": " + LastSystemError());
    }
    std::vector<std::pair<std::wstring, std::string>> subfolders;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::string utf8 = WideToUtf8(name);
        const std::string path = relative.empty() ? utf8 : relative + "/" + utf8;
        out.push_back(TreeEntry{path, KindOf(found.dwFileAttributes)});
        if (out.back().kind == TreeEntryKind::Folder) subfolders.emplace_back(full + L"\\" + name, path);
    } while (FindNextFileW(find.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        throw ToolError("cannot read the folder " + shown + ": " + LastSystemError());
    for (const auto& subfolder : subfolders) ListInto(subfolder.first, root, subfolder.second, depth + 1, out);
}

}  // namespace

std::vector<TreeEntry> ListFolderTree(const std::string& root) {
    std::vector<TreeEntry> out;
    ListInto(FullLongPath(root), root, "", 0, out);
    return out;
}

}  // namespace files
#endif
