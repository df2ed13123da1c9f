#include "plugin_frame.h"

#include <cstring>

int32_t CopyInfoString(const InfoStringTable& table, int32_t infoIndex, char* buffer,
                       int32_t bufferLength) {
    uint32_t index = static_cast<uint32_t>(infoIndex);
    uint32_t room = static_cast<uint32_t>(bufferLength);
    // No room even for a terminator: touch nothing.
    if (index > 3 || room == 0 || buffer == nullptr) return 0;
    const char* text = table[index];
    uint32_t length = static_cast<uint32_t>(lstrlenA(text));
    uint32_t placed = room < length + 1 ? room : length + 1;
    std::memcpy(buffer, text, placed - 1);
    buffer[placed - 1] = '\0';
    return static_cast<int32_t>(placed - 1);
}

void* AllocScratch(uint32_t size) { return GlobalAlloc(GMEM_FIXED, size); }

void FreeScratch(void* block) {
    if (block != nullptr) GlobalFree(block);
}

void HandOverHandle(HGLOBAL handle, bool succeeded, HGLOBAL* slot) {
    if (handle == nullptr) return;
    for (UINT locks = GlobalFlags(handle) & GMEM_LOCKCOUNT; locks > 0; --locks) GlobalUnlock(handle);
    if (succeeded)
        *slot = handle;
    else
        GlobalFree(handle);
}

HANDLE OpenForReading(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool ReadExactly(HANDLE file, void* target, uint32_t count) {
    DWORD countRead = 0;
    ReadFile(file, target, count, &countRead, nullptr);
    return countRead == count;
}

bool SeekTo(HANDLE file, uint32_t offset) {
    // A zero high part makes the offset unsigned, so entries between 2 and
    // 4 GiB stay reachable; without it Windows takes it as negative.
    LONG high = 0;
    DWORD landed = SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
    return landed == offset && high == 0;
}

void CloseIfOpen(HANDLE& file) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
}
