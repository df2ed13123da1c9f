#include "host_harness.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>

namespace harness {
namespace {
int passed = 0;
int failed = 0;
}  // namespace

void Record(bool ok, const char* file, int line, const std::string& what) {
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    const char* base = std::max(std::strrchr(file, '/'), std::strrchr(file, '\\'));
    std::printf("FAIL %s:%d: %s\n", base ? base + 1 : file, line, what.c_str());
    std::fflush(stdout);
}

std::string Show(int64_t v) { return std::to_string(v); }
std::string Show(const std::string& v) { return "\"" + v + "\""; }

int Finish() {
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 && passed > 0 ? 0 : 1;
}

int RunOnModule(int argc, char** argv, const char* moduleName, void (*run)(const char* modulePath)) {
    if (argc < 2) {
        std::printf("usage: %s <%s>\n", argv[0], moduleName);
        return 2;
    }
    run(argv[1]);
    return Finish();
}

int Failures() { return failed; }

namespace {
char context[256] = "";
}  // namespace

void SetContext(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(context, sizeof context, format, args);
    va_end(args);
}

namespace {
// A fault anywhere in the program, the plug-in included, ends it with a line
// saying where, instead of a debugger session.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    std::printf("CRASH: exception 0x%08lx at %p", static_cast<unsigned long>(r->ExceptionCode),
                r->ExceptionAddress);
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2)
        std::printf(" (%s of %p)", r->ExceptionInformation[0] ? "write" : "read",
                    reinterpret_cast<void*>(r->ExceptionInformation[1]));
    std::printf("\n  while: %s\n%d passed, %d failed\n", context, passed, failed + 1);
    std::fflush(stdout);
    ExitProcess(3);
}
struct CrashReportInstaller {
    CrashReportInstaller() {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        SetUnhandledExceptionFilter(ReportCrash);
    }
} installCrashReport;
}  // namespace
}  // namespace harness

// ---- files and folders ------------------------------------------------------

std::string ToWindowsPath(const std::string& path) {
    std::string out = path;
    std::replace(out.begin(), out.end(), '/', '\\');
    // Wine maps the Unix root to drive Z:.
    if (!path.empty() && path[0] == '/') out = "Z:" + out;
    return out;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        DWORD written = 0;
        ok = WriteFile(f, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    CloseHandle(f);
    return ok;
}

namespace {
void EmptyFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = folder + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            EmptyFolder(full);
            RemoveDirectoryA(full.c_str());
        } else {
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(full.c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
}  // namespace

ScratchFolder::ScratchFolder(const std::string& tag) {
    static int serial = 0;
    char cwd[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
    std::string base = n > 0 && n < sizeof cwd ? std::string(cwd, n) : std::string(".");
    if (!base.empty() && base.back() == '\\') base.pop_back();
    path_ = base + "\\" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++serial);
    // A folder left behind by an earlier run that died is emptied first.
    EmptyFolder(path_);
    RemoveDirectoryA(path_.c_str());
    bool made = CreateDirectoryA(path_.c_str(), nullptr) != 0;
    CHECK(made);
    if (!made) std::printf("  cannot create %s\n", path_.c_str());
}

ScratchFolder::~ScratchFolder() {
    EmptyFolder(path_);
    RemoveDirectoryA(path_.c_str());
}

std::string ScratchFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string full = File(name);
    bool ok = WriteWholeFile(full, bytes);
    CHECK(ok);
    return full;
}

std::vector<std::string> ScratchFolder::List() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string BaseName(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string JoinNames(const std::set<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

LoadedPlugin::LoadedPlugin(const std::string& builtModule, const std::string& tag)
    : folder_(tag) {
    std::string source = ToWindowsPath(builtModule);
    copy_ = folder_.File(BaseName(source));
    bool copied = CopyFileA(source.c_str(), copy_.c_str(), FALSE) != 0;
    CHECK(copied);
    if (!copied) {
        std::printf("  cannot copy %s\n", source.c_str());
        return;
    }
    // The folder holds the plug-in and nothing else: any DLL it needed
    // besides the system ones would make the load fail.
    std::vector<std::string> present = folder_.List();
    CHECK(present.size() == 1);
    module_ = LoadLibraryA(copy_.c_str());
    CHECK(module_ != nullptr);
    if (!module_) {
        std::printf("  LoadLibraryA(%s) failed, error %lu\n", copy_.c_str(), GetLastError());
        return;
    }
    char loaded[MAX_PATH];
    DWORD n = GetModuleFileNameA(module_, loaded, sizeof loaded);
    CHECK_EQ(Upper(std::string(loaded, n)), Upper(copy_));
}

LoadedPlugin::~LoadedPlugin() {
    if (module_) CHECK(FreeLibrary(module_) != 0);
}

// ---- module checks ----------------------------------------------------------

const IMAGE_NT_HEADERS32* NtHeaders(HMODULE module) {
    auto base = reinterpret_cast<const uint8_t*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    return nt;
}

std::set<std::string> ExportNames(HMODULE module) {
    std::set<std::string> names;
    const IMAGE_NT_HEADERS32* nt = NtHeaders(module);
    if (!nt) return names;
    auto base = reinterpret_cast<const uint8_t*>(module);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0) return names;
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    // Every exported function has a name: no ordinal-only entries.
    CHECK_EQ(exports->NumberOfFunctions, exports->NumberOfNames);
    auto nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

std::map<std::string, std::set<std::string>> ImportedFunctions(HMODULE module) {
    std::map<std::string, std::set<std::string>> imports;
    const IMAGE_NT_HEADERS32* nt = NtHeaders(module);
    if (!nt) return imports;
    auto base = reinterpret_cast<const uint8_t*>(module);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return imports;
    for (auto desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name != 0; ++desc) {
        std::set<std::string>& names = imports[Upper(reinterpret_cast<const char*>(base + desc->Name))];
        CHECK(desc->OriginalFirstThunk != 0);
        if (desc->OriginalFirstThunk == 0) continue;
        for (auto thunk = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + desc->OriginalFirstThunk);
             thunk->u1.AddressOfData != 0; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)) {
                names.insert("#" + std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal)));
                continue;
            }
            auto byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
            names.insert(reinterpret_cast<const char*>(byName->Name));
        }
    }
    return imports;
}

void CheckExportsAndImports(HMODULE module, const std::set<std::string>& expected) {
    if (!module) return;
    const IMAGE_NT_HEADERS32* nt = NtHeaders(module);
    CHECK(nt != nullptr);
    if (!nt) return;
    CHECK_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    CHECK((nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0);

    std::set<std::string> exports = ExportNames(module);
    CHECK_EQ(JoinNames(exports), JoinNames(expected));
    std::printf("exports: %s\n", JoinNames(exports).c_str());

    std::set<std::string> imports;
    for (const auto& dll : ImportedFunctions(module)) imports.insert(dll.first);
    // Delay-loaded DLLs would be imports too.
    CHECK_EQ(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress, 0u);
    std::printf("imports: %s\n", JoinNames(imports).c_str());
    CHECK(imports.count("KERNEL32.DLL") == 1);
    for (const std::string& name : imports) {
        bool allowed = name == "KERNEL32.DLL" || name == "MSVCRT.DLL";
        CHECK(allowed);
        if (!allowed) std::printf("  unexpected import %s\n", name.c_str());
    }
}

void CheckVersionResource(const std::string& file, WORD major, WORD minor, WORD build, WORD rev,
                          const std::string& description) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    CHECK(size > 0);
    if (size == 0) return;
    std::vector<uint8_t> info(size);
    CHECK(GetFileVersionInfoA(file.c_str(), 0, size, info.data()) != 0);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    CHECK(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedLength) != 0);
    if (fixed && fixedLength >= sizeof(VS_FIXEDFILEINFO)) {
        CHECK_EQ(fixed->dwSignature, 0xFEEF04BDu);
        CHECK_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(minor, major)));
        CHECK_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(rev, build)));
        CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    } else {
        CHECK(!"no fixed file info");
    }

    struct Translation {
        WORD language, codePage;
    }* translations = nullptr;
    UINT translationLength = 0;
    bool haveTranslation = VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                                          reinterpret_cast<void**>(&translations),
                                          &translationLength) != 0 &&
                           translationLength >= sizeof(Translation);
    CHECK(haveTranslation);
    if (!haveTranslation) return;
    char key[64];
    auto query = [&](const char* name) -> std::string {
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", translations->language,
                      translations->codePage, name);
        char* text = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(info.data(), key, reinterpret_cast<void**>(&text), &length) || !text)
            return "<missing>";
        return std::string(text);
    };
    CHECK_EQ(query("FileDescription"), description);
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", major, minor, build, rev);
    CHECK_EQ(query("FileVersion"), std::string(numbers));
}

// A cdecl helper in plain assembly, so the compiler cannot tidy the stack
// around the call: push the arguments right to left, call, and measure how
// far the callee moved the stack pointer. ebx/esi/edi survive any call.
extern "C" uint32_t ZorvProbeCall(FARPROC fn, const uint32_t* args, uint32_t count,
                                  uint32_t* popped);
asm(".text\n"
    ".globl _ZorvProbeCall\n"
    "_ZorvProbeCall:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 12(%ebp), %esi\n"
    "  movl 16(%ebp), %ecx\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  pushl -4(%esi,%ecx,4)\n"
    "  decl %ecx\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl %esp, %edi\n"
    "  call *8(%ebp)\n"
    "  movl %esp, %ecx\n"
    "  subl %edi, %ecx\n"
    "  movl 20(%ebp), %edx\n"
    "  movl %ecx, (%edx)\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");

uint32_t StackBytesPopped(FARPROC fn, const std::vector<uint32_t>& args, uint32_t* result) {
    uint32_t popped = 0;
    uint32_t r = ZorvProbeCall(fn, args.data(), static_cast<uint32_t>(args.size()), &popped);
    if (result) *result = r;
    return popped;
}

std::string CheckInfoStrings(GetPluginInfoFn getPluginInfo, const char* version,
                             const char* descriptionPrefix, const char* pattern,
                             const char* typeName) {
    if (!getPluginInfo) return std::string();
    const int32_t versionLength = static_cast<int32_t>(std::strlen(version));
    char buffer[128];
    auto fill = [&] { std::memset(buffer, 0xCC, sizeof buffer); };
    auto untouchedFrom = [&](size_t from) {
        for (size_t i = from; i < sizeof buffer; ++i)
            if (static_cast<uint8_t>(buffer[i]) != 0xCC) return false;
        return true;
    };

    // Room for the text and its terminator, or far more: the same result,
    // and nothing behind the terminator is touched.
    for (int32_t room : {versionLength + 1, 100}) {
        fill();
        CHECK_EQ(getPluginInfo(0, buffer, room), versionLength);
        CHECK_EQ(std::string(buffer), std::string(version));
        CHECK(untouchedFrom(versionLength + 1));
    }
    // A short buffer gets what fits and a terminator.
    fill();
    CHECK_EQ(getPluginInfo(0, buffer, 3), 2);
    CHECK_EQ(std::string(buffer), std::string(version, 2));
    CHECK(untouchedFrom(3));
    fill();
    CHECK_EQ(getPluginInfo(0, buffer, 1), 0);
    CHECK_EQ(buffer[0], '\0');
    CHECK(untouchedFrom(1));
    // No room even for a terminator, and indexes outside 0..3: nothing written.
    fill();
    CHECK_EQ(getPluginInfo(0, buffer, 0), 0);
    CHECK(untouchedFrom(0));
    for (int32_t index : {4, -1, 0x7FFFFFFF}) {
        fill();
        CHECK_EQ(getPluginInfo(index, buffer, 100), 0);
        CHECK(untouchedFrom(0));
    }
    // A negative length is a very large unsigned one.
    fill();
    CHECK_EQ(getPluginInfo(0, buffer, -1), versionLength);
    CHECK_EQ(std::string(buffer), std::string(version));
    CHECK(untouchedFrom(versionLength + 1));

    fill();
    int32_t n = getPluginInfo(1, buffer, sizeof buffer);
    std::string description(buffer);
    CHECK_EQ(n, static_cast<int32_t>(description.size()));
    std::string prefix = std::string(descriptionPrefix) + " ";
    // The author notice follows the fixed text after one space.
    CHECK(description.compare(0, prefix.size(), prefix) == 0);
    CHECK(description.size() > prefix.size());
    std::printf("description: %s\n", description.c_str());

    fill();
    CHECK_EQ(getPluginInfo(2, buffer, sizeof buffer), static_cast<int32_t>(std::strlen(pattern)));
    CHECK_EQ(std::string(buffer), std::string(pattern));
    fill();
    CHECK_EQ(getPluginInfo(3, buffer, sizeof buffer), static_cast<int32_t>(std::strlen(typeName)));
    CHECK_EQ(std::string(buffer), std::string(typeName));
    return description;
}

// ---- handles ----------------------------------------------------------------

std::vector<uint8_t> TakeHandle(HLOCAL handle, bool free) {
    std::vector<uint8_t> bytes;
    CHECK(handle != nullptr);
    if (!handle) return bytes;
    CHECK_EQ(LockCount(handle), 0u);
    SIZE_T size = GlobalSize(handle);
    if (size > 0) {
        void* p = GlobalLock(handle);
        CHECK(p != nullptr);
        // A movable block's address differs from its handle; a fixed one's
        // handle is its address.
        CHECK(p != static_cast<void*>(handle));
        if (p) {
            bytes.assign(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + size);
            GlobalUnlock(handle);
        }
    }
    if (free) CHECK(GlobalFree(handle) == nullptr);
    return bytes;
}
