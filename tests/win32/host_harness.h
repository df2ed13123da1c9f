// What every Win32 test program needs to act as the host: a tiny check
// macro with a final tally, a fresh folder holding nothing but the plug-in,
// loading it by LoadLibraryA/GetProcAddress, and checks of the loaded
// module's exports, imports and version resource.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

// ---- checks ---------------------------------------------------------------

namespace harness {
void Record(bool ok, const char* file, int line, const std::string& what);
std::string Show(int64_t v);
std::string Show(const std::string& v);
// Prints "N passed, N failed" and gives the process exit code.
int Finish();
// The main of a test program: runs `run` on the module path given as the
// first argument, then finishes.
int RunOnModule(int argc, char** argv, const char* moduleName, void (*run)(const char* modulePath));
// Number of failed checks so far; lets a sweep stop after the first miss.
int Failures();
// What the program is doing, printed if it crashes.
void SetContext(const char* format, ...);
}  // namespace harness

#define CHECK(cond) harness::Record(static_cast<bool>(cond), __FILE__, __LINE__, #cond)
#define CHECK_EQ(actual, expected)                                                          \
    do {                                                                                    \
        auto a_ = (actual);                                                                 \
        auto e_ = (expected);                                                               \
        bool ok_ = (a_ == e_);                                                              \
        harness::Record(ok_, __FILE__, __LINE__,                                            \
                        ok_ ? std::string()                                                 \
                            : std::string(#actual " == " #expected ": got ") +              \
                                  harness::Show(a_) + ", expected " + harness::Show(e_));   \
    } while (0)

// ---- the host's view of the interface ---------------------------------------

// Records exactly as a host declares them: byte-packed, little-endian.
#pragma pack(push, 1)
struct HostPictureInfo {
    int32_t left, top, width, height;
    uint16_t densityX, densityY, colorDepth;
    uint32_t textHandle;
};
struct HostEntryInfo {
    char method[8];
    uint32_t position, packedSize, outputSize, timestamp;
    char path[200];
    char fileName[200];
    uint32_t crc;
};
#pragma pack(pop)
static_assert(sizeof(HostPictureInfo) == 26, "host record");
static_assert(sizeof(HostEntryInfo) == 428, "host record");

typedef int32_t(WINAPI* ProgressFn)(int32_t step, int32_t total, int32_t userData);
typedef int32_t(WINAPI* GetPluginInfoFn)(int32_t infoIndex, char* buffer, int32_t bufferLength);
typedef int32_t(WINAPI* IsSupportedFn)(const char* path, uint32_t probeWord);
typedef int32_t(WINAPI* GetPictureInfoFn)(const char* source, int32_t length, uint32_t flags,
                                          HostPictureInfo* info);
typedef int32_t(WINAPI* GetPictureFn)(const char* source, int32_t length, uint32_t flags,
                                      HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut,
                                      ProgressFn progress, int32_t userData);
typedef int32_t(WINAPI* GetArchiveInfoFn)(const char* source, int32_t length, uint32_t flags,
                                          HLOCAL* listHandleOut);
typedef int32_t(WINAPI* GetFileInfoFn)(const char* source, int32_t length, const char* entryName,
                                       uint32_t flags, HostEntryInfo* entryOut);
typedef int32_t(WINAPI* GetFileFn)(const char* source, uint32_t position, HLOCAL* destination,
                                   uint32_t flags, ProgressFn progress, int32_t userData);

// ---- files and folders ------------------------------------------------------

// A path handed over on the command line in Unix form becomes a drive path.
std::string ToWindowsPath(const std::string& path);
// The last part of a path.
std::string BaseName(const std::string& path);
// ASCII letters upper-cased, as Windows compares file and module names.
std::string Upper(std::string s);
// The names in order, separated by spaces.
std::string JoinNames(const std::set<std::string>& names);

// A new, empty folder under the current directory, removed with everything
// in it at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& tag);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }
    // Writes a file into the folder and returns its full path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    // Names of everything in the folder.
    std::vector<std::string> List() const;

private:
    std::string path_;
};

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The plug-in copied alone into a fresh folder and loaded from there.
class LoadedPlugin {
public:
    LoadedPlugin(const std::string& builtModule, const std::string& tag);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;
    HMODULE Module() const { return module_; }
    const std::string& FilePath() const { return copy_; }
    const std::string& FolderPath() const { return folder_.Path(); }
    size_t FolderEntries() const { return folder_.List().size(); }
    // GetProcAddress by the undecorated name; a missing export fails a check.
    template <class Fn>
    Fn Export(const char* name) const {
        FARPROC p = module_ ? GetProcAddress(module_, name) : nullptr;
        CHECK(p != nullptr);
        if (!p) std::printf("  missing export %s\n", name);
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
    }

private:
    ScratchFolder folder_;
    std::string copy_;
    HMODULE module_ = nullptr;
};

// ---- module checks ----------------------------------------------------------

// The PE headers of a loaded module, or null if they are not in place.
const IMAGE_NT_HEADERS32* NtHeaders(HMODULE module);
// Export names of a loaded module, read from its export directory in memory.
std::set<std::string> ExportNames(HMODULE module);
// The functions it imports by DLL (upper-cased), read from the import
// lookup tables of the loaded image; an import by ordinal is listed as "#n".
std::map<std::string, std::set<std::string>> ImportedFunctions(HMODULE module);
// Exports exactly `expected`; imports KERNEL32.dll and at most msvcrt.dll.
void CheckExportsAndImports(HMODULE module, const std::set<std::string>& expected);

// The version resource of the file: fixed file version numbers and the
// FileDescription text.
void CheckVersionResource(const std::string& file, WORD major, WORD minor, WORD build, WORD rev,
                          const std::string& description);

// Calls `fn` with 32-bit arguments pushed right to left and returns how many
// bytes of them the callee removed from the stack (stdcall: all of them).
uint32_t StackBytesPopped(FARPROC fn, const std::vector<uint32_t>& args, uint32_t* result);

// GetPluginInfo copy rule, checked on index 0 whose text is `version`, and the
// other three strings; returns the description (index 1).
std::string CheckInfoStrings(GetPluginInfoFn getPluginInfo, const char* version,
                             const char* descriptionPrefix, const char* pattern,
                             const char* typeName);

// ---- handles as the host receives them --------------------------------------

// The whole content of a handle handed over by the plug-in; checks it is a
// movable block with lock count 0. Frees it when `free` is set.
std::vector<uint8_t> TakeHandle(HLOCAL handle, bool free = true);
inline uint32_t LockCount(HLOCAL handle) { return GlobalFlags(handle) & GMEM_LOCKCOUNT; }

// Sentinel a host puts in its slots to see that a failing call leaves them be.
inline HLOCAL SentinelHandle() { return reinterpret_cast<HLOCAL>(static_cast<uintptr_t>(0x5EA1AB1Eu)); }

// Little-endian writers for building fixtures.
inline void PutLe16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}
inline void PutLe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
inline uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
