// Stand-in kernel services for non-Windows builds: the Windows-named
// functions and nothing else (tests add counters and fault injection with
// standin_testing.cpp). Global blocks are kept in a registry so that frees
// and locks of unknown handles are refused instead of corrupting memory.
#include "win32_standin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

struct Block {
    void* data;
    size_t size;
    unsigned lockCount;
    bool movable;
};

// The read position is kept here and reads are positional, so a seek costs
// no system call: callers that seek before every read pay for one, as on
// Windows, where setting the pointer does not touch the disk either.
struct FileHandle {
    int fd;
    uint64_t position;
};

// A 32-bit process cannot hold more than 0x7FFF0000 bytes in one block; a
// 32-bit build refuses more, as Windows would. A 64-bit build allows what
// the formats can describe (sizes are 32-bit), so that native zorv can
// extract every entry an archive can hold.
constexpr size_t kLargestBlock = sizeof(void*) >= 8 ? size_t{0xFFFFFFFFu} : size_t{0x7FFF0000u};

struct Registry {
    std::mutex mutex;
    std::unordered_map<void*, Block*> blocks;  // keyed by handle
};

Registry& Blocks() {
    // Never destroyed: library destructors (process detach) may still free.
    static Registry* registry = new Registry;
    return *registry;
}

Block* FindLocked(Registry& r, HGLOBAL handle) {
    auto it = r.blocks.find(handle);
    return it == r.blocks.end() ? nullptr : it->second;
}

}  // namespace

extern "C" {

HANDLE CreateFileA(const char* path, DWORD, DWORD, void*, DWORD, DWORD flags, HANDLE) {
    if (path == nullptr) return INVALID_HANDLE_VALUE;
    // Without O_NONBLOCK, opening a named pipe waits for a writer; the
    // plug-ins must never wait, so only a regular file opens (Windows
    // refuses a folder too).
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    if (flags & FILE_FLAG_SEQUENTIAL_SCAN) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    FileHandle* file = new (std::nothrow) FileHandle{fd, 0};
    if (file == nullptr) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

BOOL ReadFile(HANDLE handle, void* target, DWORD count, DWORD* countRead, void*) {
    if (countRead) *countRead = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return FALSE;
    FileHandle* file = static_cast<FileHandle*>(handle);
    DWORD done = 0;
    bool failed = false;
    while (done < count) {
        ssize_t got = pread(file->fd, static_cast<char*>(target) + done, count - done,
                            static_cast<off_t>(file->position + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            failed = true;
            break;
        }
        if (got == 0) break;  // end of file: Windows reports success with a short count
        done += static_cast<DWORD>(got);
    }
    file->position += done;
    if (countRead) *countRead = done;
    return failed ? FALSE : TRUE;
}

DWORD GetFileSize(HANDLE handle, DWORD* highPart) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return INVALID_FILE_SIZE;
    struct stat info;
    if (fstat(static_cast<FileHandle*>(handle)->fd, &info) != 0) return INVALID_FILE_SIZE;
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (highPart) *highPart = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* highPart, DWORD method) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || method != FILE_BEGIN)
        return INVALID_SET_FILE_POINTER;
    // Without a high part the distance is a signed 32-bit value, as on Windows.
    int64_t target = highPart
        ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*highPart)) << 32) |
                               static_cast<uint32_t>(distance))
        : static_cast<int64_t>(distance);
    if (target < 0) return INVALID_SET_FILE_POINTER;
    // Like Windows, a position past the end of the file is allowed.
    uint64_t landed = static_cast<uint64_t>(target);
    static_cast<FileHandle*>(handle)->position = landed;
    if (highPart) *highPart = static_cast<LONG>(landed >> 32);
    return static_cast<DWORD>(landed);
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return FALSE;
    FileHandle* file = static_cast<FileHandle*>(handle);
    close(file->fd);
    delete file;
    return TRUE;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T size) {
    if (size > kLargestBlock) return nullptr;
    bool movable = (flags & GMEM_MOVEABLE) != 0;
    // A movable block of 0 bytes is created discarded: the handle exists but
    // cannot be locked. A fixed block of 0 bytes is an ordinary block.
    void* data = nullptr;
    if (!movable || size > 0) {
        data = (flags & GMEM_ZEROINIT) ? std::calloc(size ? size : 1, 1) : std::malloc(size ? size : 1);
        if (data == nullptr) return nullptr;
    }
    Block* block = new (std::nothrow) Block{data, size, 0, movable};
    if (block == nullptr) {
        std::free(data);
        return nullptr;
    }
    HGLOBAL handle = movable ? static_cast<HGLOBAL>(block) : data;
    Registry& r = Blocks();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.blocks[handle] = block;
    return handle;
}

LPVOID GlobalLock(HGLOBAL handle) {
    Registry& r = Blocks();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* block = FindLocked(r, handle);
    if (block == nullptr) return nullptr;
    if (!block->movable) return block->data;
    if (block->data == nullptr) return nullptr;  // discarded
    if (block->lockCount < GMEM_LOCKCOUNT) ++block->lockCount;
    return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
    Registry& r = Blocks();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* block = FindLocked(r, handle);
    if (block == nullptr) return FALSE;
    if (!block->movable || block->lockCount == 0) return FALSE;
    --block->lockCount;
    return block->lockCount > 0;
}

UINT GlobalFlags(HGLOBAL handle) {
    Registry& r = Blocks();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* block = FindLocked(r, handle);
    if (block == nullptr) return GMEM_INVALID_HANDLE;
    return block->lockCount | (block->movable && block->data == nullptr ? GMEM_DISCARDED : 0u);
}

SIZE_T GlobalSize(HGLOBAL handle) {
    Registry& r = Blocks();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* block = FindLocked(r, handle);
    if (block == nullptr) return 0;
    return block->data == nullptr ? 0 : block->size;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
    Block* block;
    {
        Registry& r = Blocks();
        std::lock_guard<std::mutex> guard(r.mutex);
        block = FindLocked(r, handle);
        if (block == nullptr) return handle;
        r.blocks.erase(handle);
    }
    std::free(block->data);
    delete block;
    return nullptr;
}

int lstrlenA(const char* text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

int lstrcmpA(const char* a, const char* b) {
    int order = std::strcmp(a ? a : "", b ? b : "");
    return (order > 0) - (order < 0);
}

char* lstrcpyA(char* target, const char* source) { return std::strcpy(target, source); }

char* lstrcpynA(char* target, const char* source, int limit) {
    if (limit <= 0) return target;
    int i = 0;
    for (; i < limit - 1 && source[i] != '\0'; ++i) target[i] = source[i];
    target[i] = '\0';
    return target;
}

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    // Recursive, like the real one: a thread may enter it again.
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_lock(&section->mutex); }
void LeaveCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_unlock(&section->mutex); }
void DeleteCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_destroy(&section->mutex); }

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

}  // extern "C"
