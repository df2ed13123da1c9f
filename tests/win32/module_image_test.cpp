// A shipped module as a file and as the loader sees it: at most 40 KB; its
// imports only the kernel services its own code calls, plus at most
// msvcrt.dll's memory and string functions (no loader, page-protection,
// thread-storage, semaphore or thread services of a C++ runtime); nothing
// that runs at load besides DllMain; and DllMain's DisableThreadLibraryCalls
// succeeded, so thread starts and exits never call into the module.
// Usage: module_image_test <path of ZORVPICT.SPI or ZORVPACK.SPI>
#include <winternl.h>

#include <cstring>

#include "host_harness.h"

namespace {

constexpr uint64_t kLargestModule = 40 * 1024;

// The KERNEL32 functions each module's code calls, and no others.
const std::set<std::string> kFileAndMemoryServices = {
    "CloseHandle",  "CreateFileA", "DisableThreadLibraryCalls", "GetFileSize", "GlobalAlloc",
    "GlobalFlags",  "GlobalFree",  "GlobalLock",                "GlobalUnlock", "ReadFile",
    "lstrlenA"};
const std::set<std::string> kArchiveOnlyServices = {
    "SetFilePointer", "InitializeCriticalSection", "EnterCriticalSection", "LeaveCriticalSection",
    "DeleteCriticalSection"};
const std::set<std::string> kRuntimeMemoryAndStrings = {
    "memchr", "memcmp", "memcpy", "memmove", "memset", "strchr",
    "strcmp", "strcpy", "strlen", "strncmp", "strncpy"};
// What the linker makes of our code and data, exports, imports, the version
// resource and relocations: no thread-storage (.tls) or start-up (.CRT) sections.
const std::set<std::string> kSections = {".text",  ".data",  ".rdata", ".bss",
                                         ".edata", ".idata", ".rsrc",  ".reloc"};

// The loader's record of a loaded module, as far as needed here: the same
// layout in every 32-bit Windows and in Wine.
struct LoaderEntry {
    LIST_ENTRY inLoadOrder;
    LIST_ENTRY inMemoryOrder;
    LIST_ENTRY inInitializationOrder;
    void* dllBase;
    void* entryPoint;
    ULONG sizeOfImage;
    UNICODE_STRING fullName;
    UNICODE_STRING baseName;
    ULONG flags;
};
// Set by a successful DisableThreadLibraryCalls.
constexpr ULONG kNoThreadNotifications = 0x00040000;

const LoaderEntry* FindLoaderEntry(HMODULE module) {
    const PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
    const LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
    for (const LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        auto entry = reinterpret_cast<const LoaderEntry*>(reinterpret_cast<const uint8_t*>(link) -
                                                          offsetof(LoaderEntry, inMemoryOrder));
        if (entry->dllBase == module) return entry;
    }
    return nullptr;
}

void CheckFileSize(const std::string& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    CHECK(GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data) != 0);
    uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    std::printf("size: %llu bytes\n", static_cast<unsigned long long>(size));
    CHECK(size > 0 && size <= kLargestModule);
}

void CheckSectionsAndDirectories(HMODULE module) {
    const IMAGE_NT_HEADERS32* nt = NtHeaders(module);
    CHECK(nt != nullptr);
    if (!nt) return;
    const IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;
    // No thread-storage directory: its callbacks would run at load and at
    // every thread start, and it makes DisableThreadLibraryCalls fail.
    CHECK_EQ(directories[IMAGE_DIRECTORY_ENTRY_TLS].VirtualAddress, 0u);
    CHECK_EQ(directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress, 0u);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        std::string name(reinterpret_cast<const char*>(section->Name),
                         strnlen(reinterpret_cast<const char*>(section->Name), IMAGE_SIZEOF_SHORT_NAME));
        bool expected = kSections.count(name) == 1;
        CHECK(expected);
        if (!expected) std::printf("  unexpected section %s\n", name.c_str());
    }
}

void CheckImports(HMODULE module, bool isArchiveModule) {
    std::set<std::string> kernel = kFileAndMemoryServices;
    if (isArchiveModule) kernel.insert(kArchiveOnlyServices.begin(), kArchiveOnlyServices.end());
    std::map<std::string, std::set<std::string>> imports = ImportedFunctions(module);
    for (const auto& [dll, functions] : imports) {
        std::printf("imports from %s: %s\n", dll.c_str(), JoinNames(functions).c_str());
        if (dll == "KERNEL32.DLL") {
            CHECK_EQ(JoinNames(functions), JoinNames(kernel));
        } else if (dll == "MSVCRT.DLL") {
            for (const std::string& name : functions) {
                bool allowed = kRuntimeMemoryAndStrings.count(name) == 1;
                CHECK(allowed);
                if (!allowed) std::printf("  unexpected msvcrt.dll import %s\n", name.c_str());
            }
        } else {
            CHECK(!"imports from a DLL other than KERNEL32.dll and msvcrt.dll");
        }
    }
    CHECK(imports.count("KERNEL32.DLL") == 1);
}

void Run(const char* modulePath) {
    std::string file = ToWindowsPath(modulePath);
    CheckFileSize(file);
    std::string name = Upper(BaseName(file));
    bool isArchiveModule = name == "ZORVPACK.SPI";
    CHECK(isArchiveModule || name == "ZORVPICT.SPI");

    LoadedPlugin plugin(modulePath, "module_image");
    HMODULE module = plugin.Module();
    if (!module) return;
    const LoaderEntry* entry = FindLoaderEntry(module);
    CHECK(entry != nullptr);
    if (entry) CHECK((entry->flags & kNoThreadNotifications) != 0);
    CheckSectionsAndDirectories(module);
    CheckImports(module, isArchiveModule);
}

}  // namespace

int main(int argc, char** argv) { return harness::RunOnModule(argc, argv, "module file", Run); }
