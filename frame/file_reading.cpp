// Sequential reading, which both modules use; seeks and the read-ahead
// buffer are in read_ahead.cpp, so that a module that never seeks does not
// import the seek service.
#include "file_reading.h"

HANDLE OpenForReading(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool ReadExactly(HANDLE file, void* target, uint32_t count) {
    DWORD countRead = 0;
    ReadFile(file, target, count, &countRead, nullptr);
    return countRead == count;
}

void CloseIfOpen(HANDLE& file) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
}

bool QueryFileSize(HANDLE file, uint64_t* size) {
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && high == 0) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}
