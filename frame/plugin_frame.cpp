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

void* AllocAndLock(uint32_t size, UINT extraFlags, HGLOBAL* handle) {
    *handle = GlobalAlloc(GMEM_MOVEABLE | extraFlags, size);
    return *handle != nullptr ? GlobalLock(*handle) : nullptr;
}

void HandOverHandle(HGLOBAL handle, bool succeeded, HGLOBAL* slot) {
    if (handle == nullptr) return;
    for (UINT locks = GlobalFlags(handle) & GMEM_LOCKCOUNT; locks > 0; --locks) GlobalUnlock(handle);
    if (succeeded)
        *slot = handle;
    else
        GlobalFree(handle);
}
