#include "plugin_module.h"

#include <vector>

#include "output_folder.h"

#ifdef _WIN32
#include "platform.h"
#include "wide_text.h"
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace host {
namespace {

std::string PluginFileName(PluginKind kind) {
#ifdef _WIN32
    return kind == PluginKind::Picture ? "ZORVPICT.SPI" : "ZORVPACK.SPI";
#else
    return kind == PluginKind::Picture ? "libzorvpict.so" : "libzorvpack.so";
#endif
}

std::string ProgramFolder() {
#ifdef _WIN32
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return files::FolderOf(files::WideToUtf8(path));
#else
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    return files::FolderOf(std::string(path, static_cast<size_t>(n)));
#endif
}

// Where the modules are looked for, in order.
std::vector<std::string> PluginFolders() {
    std::string here = ProgramFolder();
#ifdef _WIN32
    return {here};
#else
    return {here + "/native", here};
#endif
}

#ifdef _WIN32
void* OpenModule(const std::string& path, std::string& why) {
    // No "insert the disk" boxes, and the module's own folder for anything
    // it needs (it needs nothing but the system).
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExW(files::Utf8ToWide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (module == nullptr) why = error == ERROR_FILE_NOT_FOUND ? "" : "error " + std::to_string(error);
    return reinterpret_cast<void*>(module);
}
void CloseModule(void* module) { FreeLibrary(reinterpret_cast<HMODULE>(module)); }
void* FindExport(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}
bool FileExists(const std::string& path) {
    return GetFileAttributesW(files::Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
void* OpenModule(const std::string& path, std::string& why) {
    // Both modules export the same names: each keeps its own scope.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* error = dlerror();
        why = error ? error : "cannot be loaded";
    }
    return module;
}
void CloseModule(void* module) { dlclose(module); }
void* FindExport(void* module, const char* name) { return dlsym(module, name); }
bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
#endif

}  // namespace

PluginModule::PluginModule(PluginKind kind) {
    const std::string file = PluginFileName(kind);
    std::string lookedAt;
    for (const std::string& folder : PluginFolders()) {
        std::string candidate = folder + (folder.back() == '/' || folder.back() == '\\' ? "" : "/") + file;
#ifdef _WIN32
        for (char& c : candidate)
            if (c == '/') c = '\\';
#endif
        if (!FileExists(candidate)) {
            lookedAt += (lookedAt.empty() ? "" : ", ") + folder;
            continue;
        }
        std::string why;
        module_ = OpenModule(candidate, why);
        if (module_ == nullptr)
            throw files::ToolError("cannot load the plug-in " + candidate + (why.empty() ? "" : ": " + why));
        path_ = candidate;
        return;
    }
    throw files::ToolError("the plug-in " + file + " is missing (looked in " + lookedAt + ")");
}

PluginModule::~PluginModule() {
    if (module_ != nullptr) CloseModule(module_);
}

void* PluginModule::Export(const char* name) const {
    void* symbol = FindExport(module_, name);
    if (symbol == nullptr) throw files::ToolError("the plug-in " + path_ + " lacks the export " + name);
    return symbol;
}

}  // namespace host
