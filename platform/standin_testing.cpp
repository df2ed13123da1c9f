// Counters and fault injection for the tests (platform_testing.h), in a
// library of their own so that the shipped stand-in exports nothing but the
// Windows-named services. Linked into a test program ahead of the stand-in,
// it takes the place of the file and memory services it watches: each
// counts the call, misbehaves when armed to, and otherwise forwards to the
// stand-in's own function.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "platform_testing.h"

namespace {

using platform_testing::Call;
using platform_testing::FaultMode;

// The stand-in's own functions, found behind this library.
struct Services {
    decltype(&CreateFileA) createFile;
    decltype(&ReadFile) readFile;
    decltype(&GetFileSize) getFileSize;
    decltype(&SetFilePointer) setFilePointer;
    decltype(&CloseHandle) closeHandle;
    decltype(&GlobalAlloc) globalAlloc;
    decltype(&GlobalLock) globalLock;
    decltype(&GlobalUnlock) globalUnlock;
    decltype(&GlobalFlags) globalFlags;
    decltype(&GlobalSize) globalSize;
    decltype(&GlobalFree) globalFree;
};

template <class Fn>
Fn Behind(const char* name, Fn ours) {
    void* next = dlsym(RTLD_NEXT, name);
    // Linked after the stand-in, the program would call the stand-in
    // directly, and every count and fault would silently stay zero.
    if (next == nullptr || dlsym(RTLD_DEFAULT, name) != reinterpret_cast<void*>(ours)) {
        std::fprintf(stderr, "zorvplatform_testing: %s is not in front of the stand-in; "
                             "link zorvplatform_testing before zorvplatform\n", name);
        std::abort();
    }
    return reinterpret_cast<Fn>(next);
}

const Services& Real() {
    static const Services services = {
        Behind("CreateFileA", &CreateFileA),   Behind("ReadFile", &ReadFile),
        Behind("GetFileSize", &GetFileSize),   Behind("SetFilePointer", &SetFilePointer),
        Behind("CloseHandle", &CloseHandle),   Behind("GlobalAlloc", &GlobalAlloc),
        Behind("GlobalLock", &GlobalLock),     Behind("GlobalUnlock", &GlobalUnlock),
        Behind("GlobalFlags", &GlobalFlags),   Behind("GlobalSize", &GlobalSize),
        Behind("GlobalFree", &GlobalFree),
    };
    return services;
}

// Found at load, so that a program linked in the wrong order stops at once.
__attribute__((constructor)) void FindServices() { Real(); }

// Handles issued and not yet freed, to count live blocks and their locks and
// to tell frees of handles that were never issued or are freed already.
struct LiveBlocks {
    std::mutex mutex;
    std::unordered_set<HGLOBAL> handles;
};

LiveBlocks& Blocks() {
    // Never destroyed: library destructors (process detach) may still free.
    static LiveBlocks* blocks = new LiveBlocks;
    return *blocks;
}

std::atomic<long> openFiles{0};
std::atomic<long> misuse{0};
std::atomic<long> callCounts[static_cast<int>(Call::Count_)];
std::atomic<int> armedKind{-1};
std::atomic<long> armedAt{0};
std::atomic<int> armedMode{0};

// Counts the call and tells whether it is the one armed to misbehave.
bool Misbehaves(Call kind, FaultMode* mode = nullptr) {
    long n = ++callCounts[static_cast<int>(kind)];
    if (armedKind.load() != static_cast<int>(kind) || armedAt.load() != n) return false;
    if (mode) *mode = static_cast<FaultMode>(armedMode.load());
    return true;
}

// Any other use of a handle the stand-in does not know counts as misuse.
// Asked only when the call failed, so that watching costs the calls that
// succeed nothing.
void CountIfUnknown(HGLOBAL handle) {
    if (Real().globalFlags(handle) == GMEM_INVALID_HANDLE) ++misuse;
}

}  // namespace

namespace platform_testing {

LiveCounts Live() {
    LiveBlocks& b = Blocks();
    std::lock_guard<std::mutex> guard(b.mutex);
    long locks = 0;
    for (HGLOBAL handle : b.handles) locks += Real().globalFlags(handle) & GMEM_LOCKCOUNT;
    return LiveCounts{static_cast<long>(b.handles.size()), locks, openFiles.load()};
}

long CallsMade(Call kind) { return callCounts[static_cast<int>(kind)].load(); }

void InjectFault(Call kind, long nth, FaultMode mode) {
    armedMode = static_cast<int>(mode);
    armedAt = CallsMade(kind) + nth;
    armedKind = static_cast<int>(kind);
}

void ResetFaults() {
    armedKind = -1;
    for (auto& count : callCounts) count = 0;
}

long MisuseCount() { return misuse.load(); }

}  // namespace platform_testing

extern "C" {

HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
    if (Misbehaves(Call::Open)) return INVALID_HANDLE_VALUE;
    HANDLE file = Real().createFile(path, access, share, security, disposition, flags, templateFile);
    if (file != INVALID_HANDLE_VALUE) ++openFiles;
    return file;
}

BOOL CloseHandle(HANDLE file) {
    BOOL closed = Real().closeHandle(file);
    if (closed) --openFiles;
    return closed;
}

// Short: one byte fewer than asked.
BOOL ReadFile(HANDLE file, void* target, DWORD count, DWORD* countRead, void* overlapped) {
    FaultMode mode;
    if (Misbehaves(Call::Read, &mode)) {
        if (mode == FaultMode::Fail || count == 0) {
            if (countRead) *countRead = 0;
            return FALSE;
        }
        count -= 1;
    }
    return Real().readFile(file, target, count, countRead, overlapped);
}

DWORD GetFileSize(HANDLE file, DWORD* highPart) {
    if (Misbehaves(Call::Size)) return INVALID_FILE_SIZE;
    return Real().getFileSize(file, highPart);
}

// Short: land one byte before the position asked for.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* highPart, DWORD method) {
    FaultMode mode;
    if (!Misbehaves(Call::Seek, &mode)) return Real().setFilePointer(file, distance, highPart, method);
    if (mode == FaultMode::Fail) return INVALID_SET_FILE_POINTER;
    if (highPart == nullptr) return Real().setFilePointer(file, distance > 0 ? distance - 1 : distance, nullptr, method);
    uint64_t target = (static_cast<uint64_t>(static_cast<uint32_t>(*highPart)) << 32) |
                      static_cast<uint32_t>(distance);
    if (target > 0 && target < (uint64_t{1} << 63)) --target;
    LONG high = static_cast<LONG>(target >> 32);
    DWORD landed = Real().setFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(target)), &high, method);
    *highPart = high;
    return landed;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T size) {
    if (Misbehaves(Call::Alloc)) return nullptr;
    HGLOBAL handle = Real().globalAlloc(flags, size);
    if (handle != nullptr) {
        LiveBlocks& b = Blocks();
        std::lock_guard<std::mutex> guard(b.mutex);
        b.handles.insert(handle);
    }
    return handle;
}

LPVOID GlobalLock(HGLOBAL handle) {
    if (Misbehaves(Call::Lock)) return nullptr;
    LPVOID data = Real().globalLock(handle);
    if (data == nullptr) CountIfUnknown(handle);
    return data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
    BOOL stillLocked = Real().globalUnlock(handle);
    if (!stillLocked) CountIfUnknown(handle);
    return stillLocked;
}

UINT GlobalFlags(HGLOBAL handle) {
    UINT flags = Real().globalFlags(handle);
    if (flags == GMEM_INVALID_HANDLE) ++misuse;
    return flags;
}

SIZE_T GlobalSize(HGLOBAL handle) {
    SIZE_T size = Real().globalSize(handle);
    if (size == 0) CountIfUnknown(handle);
    return size;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
    {
        // Forgotten before the block goes, so that a handle the stand-in
        // issues again at once is not taken for a freed one.
        LiveBlocks& b = Blocks();
        std::lock_guard<std::mutex> guard(b.mutex);
        if (b.handles.erase(handle) == 0) {
            ++misuse;
            return handle;
        }
    }
    return Real().globalFree(handle);
}

}  // extern "C"
