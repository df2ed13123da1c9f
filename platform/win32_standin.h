// Stand-in for the subset of the Windows kernel services that the plug-ins
// call, for builds on other systems. Names, argument orders and result
// conventions follow the Windows originals so that the callers compile
// unchanged; only what the callers rely on is reproduced.
#pragma once

#include <pthread.h>
#include <cstddef>
#include <cstdint>

#define STANDIN_API __attribute__((visibility("default")))

typedef int BOOL;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef size_t SIZE_T;
typedef void* HANDLE;
typedef void* HGLOBAL;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* LPVOID;

#define WINAPI
#define TRUE 1
#define FALSE 0

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_BEGIN 0u
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(~static_cast<uintptr_t>(0)))
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GMEM_DISCARDED 0x4000u
#define GMEM_LOCKCOUNT 0x00FFu
#define GMEM_INVALID_HANDLE 0x8000u

#define DLL_PROCESS_DETACH 0u
#define DLL_PROCESS_ATTACH 1u

struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
};

extern "C" {
STANDIN_API HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
STANDIN_API BOOL ReadFile(HANDLE file, void* target, DWORD count, DWORD* countRead,
                          void* overlapped);
STANDIN_API DWORD GetFileSize(HANDLE file, DWORD* highPart);
STANDIN_API DWORD SetFilePointer(HANDLE file, LONG distance, LONG* highPart, DWORD method);
STANDIN_API BOOL CloseHandle(HANDLE file);

STANDIN_API HGLOBAL GlobalAlloc(UINT flags, SIZE_T size);
STANDIN_API LPVOID GlobalLock(HGLOBAL block);
STANDIN_API BOOL GlobalUnlock(HGLOBAL block);
STANDIN_API UINT GlobalFlags(HGLOBAL block);
STANDIN_API SIZE_T GlobalSize(HGLOBAL block);
STANDIN_API HGLOBAL GlobalFree(HGLOBAL block);

STANDIN_API int lstrlenA(const char* text);
STANDIN_API int lstrcmpA(const char* a, const char* b);
STANDIN_API char* lstrcpyA(char* target, const char* source);
STANDIN_API char* lstrcpynA(char* target, const char* source, int limit);

STANDIN_API void InitializeCriticalSection(CRITICAL_SECTION* section);
STANDIN_API void EnterCriticalSection(CRITICAL_SECTION* section);
STANDIN_API void LeaveCriticalSection(CRITICAL_SECTION* section);
STANDIN_API void DeleteCriticalSection(CRITICAL_SECTION* section);

STANDIN_API BOOL DisableThreadLibraryCalls(HMODULE module);
}
