// GetPictureInfo and GetPicture on the whole input, in memory mode and in file mode through a temporary file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "picture_exports.h"
#include "platform_testing.h"

namespace {

void CheckDelivered(HGLOBAL handle) {
    // The host receives unlocked handles it can lock, size and free.
    if ((GlobalFlags(handle) & GMEM_LOCKCOUNT) != 0) std::abort();
    SIZE_T size = GlobalSize(handle);
    auto* bytes = static_cast<volatile uint8_t*>(GlobalLock(handle));
    if (bytes == nullptr || size == 0) std::abort();
    (void)bytes[0];
    (void)bytes[size - 1];
    GlobalUnlock(handle);
    GlobalFree(handle);
}

void RunBoth(const char* source, int32_t length, uint32_t flags) {
    PictureInfoRecord info;
    GetPictureInfo(source, length, flags, &info);
    HGLOBAL infoHandle = nullptr, bitsHandle = nullptr;
    int32_t result = GetPicture(source, length, flags, &infoHandle, &bitsHandle, nullptr, 0);
    if (result == Ok) {
        CheckDelivered(infoHandle);
        CheckDelivered(bitsHandle);
    } else if (infoHandle != nullptr || bitsHandle != nullptr) {
        std::abort();  // slots are written only on success
    }
    if (result != Ok && result != UnsupportedFormat && result != NoMemory && result != ReadError) std::abort();
}

const char* TempPath() {
    static char path[64];
    if (path[0] == '\0') std::snprintf(path, sizeof path, "/tmp/fuzz_picture_%d.bmp", static_cast<int>(getpid()));
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform_testing::LiveCounts before = platform_testing::Live();

    // An exactly sized copy: reading past `length` is caught.
    std::vector<uint8_t> image(data, data + size);
    RunBoth(reinterpret_cast<const char*>(image.data()), static_cast<int32_t>(size), SourceInMemory);
    // The probe word points at the file's leading bytes; the probe reads 10.
    if (size >= 10) IsSupported("", reinterpret_cast<uintptr_t>(image.data()));

    if (FILE* f = std::fopen(TempPath(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        RunBoth(TempPath(), 0, 0);
        IsSupported(TempPath(), 0);
    }

    platform_testing::LiveCounts after = platform_testing::Live();
    if (!(before == after)) std::abort();  // a block, lock or file left behind
    return 0;
}
